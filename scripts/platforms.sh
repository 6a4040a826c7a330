# Sourced by test-platforms.sh and package.sh (needs $root): the platforms Kestrune is built for on
# this Debian machine, their toolchain files and build folders, and one lean configuration for
# all of them: Release, no command-line tools, no sanitizers.

kestrune_platforms=(linux-x86_64 linux-i386 windows-x64 windows-x86)

platform_toolchain() {
  case "$1" in
    linux-x86_64) echo "" ;;
    linux-i386) echo "$root/cmake/linux-i386.cmake" ;;
    windows-x64) echo "$root/cmake/mingw-w64-x86_64.cmake" ;;
    windows-x86) echo "$root/cmake/mingw-w64-i686.cmake" ;;
    *) echo "unknown platform '$1' (known: ${kestrune_platforms[*]})" >&2; return 1 ;;
  esac
}

platform_build_dir() {
  echo "$root/build-$1"
}

# configure_platform PLATFORM [CMAKE_ARGUMENT...]
configure_platform() {
  local platform=$1
  shift
  local toolchain
  toolchain=$(platform_toolchain "$platform")
  local arguments=(-S "$root" -B "$(platform_build_dir "$platform")" -G Ninja
                   -DCMAKE_BUILD_TYPE=Release -DKESTRUNE_BUILD_TOOLS=OFF -DKESTRUNE_SANITIZE=OFF)
  if [ -n "$toolchain" ]; then
    arguments+=("-DCMAKE_TOOLCHAIN_FILE=$toolchain")
  fi
  cmake "${arguments[@]}" "$@"
}

# The wine prefix and server for the Windows test programs. The server is started persistent and
# detached from every stream before anything else runs in the prefix: one that wineboot or a test
# started would inherit their pipes, hold CTest up and end a few seconds after each program.
# stop_wine ends it.
start_wine() {
  export WINEPREFIX="${KESTRUNE_WINEPREFIX:-$root/build-wine}"
  export WINEDEBUG=-all
  mkdir -p "$WINEPREFIX"
  wineserver -k </dev/null >/dev/null 2>&1 || true  # a server left behind by an earlier run
  wineserver -p </dev/null >/dev/null 2>&1
  wineboot -i </dev/null >/dev/null 2>&1
  wine cmd /c exit </dev/null >/dev/null 2>&1
}

stop_wine() {
  if [ -n "${WINEPREFIX:-}" ]; then
    wineserver -k </dev/null >/dev/null 2>&1 || true
  fi
}
