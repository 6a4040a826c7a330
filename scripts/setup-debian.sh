#!/usr/bin/env bash
# Installs, with apt, every Debian 12 package the build, the tools and the tests need and that
# is not installed yet. Safe to run again: it does nothing when everything is present.
set -euo pipefail

packages=(
  g++ cmake ninja-build make binutils pkg-config
  libgtest-dev
)

if [ "${1:-}" = "--list" ]; then
  echo "${packages[@]}"
  exit 0
fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}" >&2
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "error: need root (or sudo) to install ${missing[*]}" >&2; exit 1; }
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
$sudo apt-get install -y --no-install-recommends "${missing[@]}"
