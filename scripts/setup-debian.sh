#!/usr/bin/env bash
# Installs, with apt, every Debian 12 package the build, the tools and the tests need and that
# is not installed yet. Safe to run again: it does nothing when everything is present.
set -euo pipefail

packages=(
  g++ cmake ninja-build make binutils pkg-config
  libgtest-dev
  # the kestrune tool: audio files, sidechain resampling, argument parsing, plots
  libsndfile1-dev libsamplerate0-dev libcli11-dev python3-matplotlib
  # the other platforms: Linux i386 (multilib compiler, i386 GoogleTest), Windows x64 and x86
  # (mingw-w64 with posix threads, GoogleTest sources) and wine to run the Windows test programs
  g++-multilib libgtest-dev:i386
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix googletest
  wine wine64 wine32:i386
  # real hosts that the tests load the module into: Ardour (VST scanner, headless luasession) and
  # Qtractor's scanner, driven by Python scripts
  ardour qtractor python3
)

# Packages of another architecture (name:arch) need that architecture in dpkg before apt-get
# update. Prints nothing; safe to run again.
add_architectures() {
  local architecture
  for architecture in $(printf '%s\n' "${packages[@]}" | sed -n 's/^[^:]*:\(.*\)$/\1/p' | sort -u); do
    if [ "$architecture" != "$(dpkg --print-architecture)" ] &&
       ! dpkg --print-foreign-architectures | grep -qx "$architecture"; then
      ${sudo:-} dpkg --add-architecture "$architecture"
    fi
  done
}

if [ "${1:-}" = "--list" ]; then
  echo "${packages[@]}"
  exit 0
fi
if [ "${1:-}" = "--add-architectures" ]; then
  add_architectures
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
add_architectures
$sudo apt-get update
$sudo apt-get install -y --no-install-recommends "${missing[@]}"
