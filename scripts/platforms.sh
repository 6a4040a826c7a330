# Sourced by test-platforms.sh and package.sh (needs $root): the platforms Kestrune is built for on
# this Debian machine and their build folders, all in one lean configuration: Release, no
# command-line tools, no sanitizers.

kestrune_platforms=(linux-x86_64 linux-i386 windows-x64 windows-x86)

# The configurations themselves (toolchain file, build type, options) are CMakePresets.json's
# presets of the same names; each builds in build-<platform>.
platform_build_dir() {
  case "$1" in
    linux-x86_64 | linux-i386 | windows-x64 | windows-x86) echo "$root/build-$1" ;;
    *) echo "unknown platform '$1' (known: ${kestrune_platforms[*]})" >&2; return 1 ;;
  esac
}

# configure_platform PLATFORM [CMAKE_ARGUMENT...]
configure_platform() {
  local platform=$1
  shift
  platform_build_dir "$platform" >/dev/null
  (cd "$root" && cmake --preset "$platform" "$@")
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
