#!/usr/bin/env bash
# Installs, with apt, every Debian 12 package the build, the tools and the tests need and that
# is not installed yet. Safe to run again: it does nothing when everything is present.
#   setup-debian.sh [--demo | --bench] [--list | --add-architectures]
# --demo limits it to what building the plug-in and its tool needs (no cross compilers, wine or
# DAWs); --bench to that and what the speed measurements use (valgrind and the peer compressors
# they compare with); --list prints the packages instead of installing
# them; --add-architectures only adds the foreign dpkg architectures they need (do that before
# apt-get update).
set -euo pipefail

# building the plug-in, its tests and the kestrune tool (audio files, sidechain resampling,
# argument parsing, plots, its manual page); the LV2 headers for the LV2 edition and lv2info to
# show it; strace, through which the main command watches Qtractor build its plug-in path to tell
# whether it will find the module
demo_packages=(
  g++ cmake ninja-build make binutils pkg-config
  libgtest-dev libbenchmark-dev
  libsndfile1-dev libsamplerate0-dev libcli11-dev python3-matplotlib
  lv2-dev lilv-utils
  help2man strace
  # the LV2 edition's editor draws with cairo on Xlib
  libcairo2-dev libx11-dev
)

# scripts/bench.sh and scripts/callgrind.sh: instruction counts, and the installed compressors
# they measure beside Kestrune (optional at run time; lsp-plugins-vst is needed by nothing else)
bench_packages=(
  "${demo_packages[@]}"
  valgrind zam-plugins lsp-plugins-vst
)

packages=(
  "${demo_packages[@]}"
  # the other platforms: Linux i386 (multilib compiler, i386 GoogleTest), Windows x64 and x86
  # (mingw-w64 with posix threads, GoogleTest sources) and wine to run the Windows test programs
  g++-multilib libgtest-dev:i386
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix googletest
  wine wine64 wine32:i386
  # sox reads what the kestrune tests write (pipes, float WAV headers) as a user's tools would;
  # zam-plugins gives them a peer effect that exports the older entry name
  sox zam-plugins
  # real hosts that the tests load the module into: Ardour (VST scanner, headless luasession) and
  # Qtractor's scanner, driven by Python scripts
  ardour qtractor python3
  # real hosts with a screen: Ardour's GUI showing the LV2 edition's mixer-strip picture, and the
  # editor in jalv, on a virtual display and a JACK dummy server, driven by xdotool and photographed
  # by ImageMagick's import
  xvfb jackd2 xdotool imagemagick jalv
  # the LV2 edition's tests: a liblilv host, lv2apply, and lv2_validate (which runs sord_validate);
  # clang for the libFuzzer targets
  liblilv-dev sordi clang
  # the Debian package: cpack's DEB generator needs dpkg-shlibdeps and file; its test loads the
  # completion as bash-completion does, man shows the manual page and lintian checks the package
  dpkg-dev file bash-completion man-db lintian
  # the size of the command's functions, measured by tests/tools/function-size.sh
  pmccabe
  # clang's libFuzzer and sanitizer runtimes (not pulled in without recommends), and valgrind for
  # the leak check of the load/unload soak
  libclang-rt-14-dev valgrind
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

action=install
for argument in "$@"; do
  case "$argument" in
    --demo) packages=("${demo_packages[@]}") ;;
    --bench) packages=("${bench_packages[@]}") ;;
    --list) action=list ;;
    --add-architectures) action=architectures ;;
    *) echo "usage: $0 [--demo | --bench] [--list | --add-architectures]" >&2; exit 2 ;;
  esac
done
if [ "$action" = list ]; then
  echo "${packages[@]}"
  exit 0
fi
if [ "$action" = architectures ]; then
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
