#!/usr/bin/env bash
# Builds Kestrune and the whole unit and integration suite for the platforms other than the build
# machine's own and runs the suite on each: Linux i386 natively, Windows x64 and x86 under wine.
#   scripts/test-platforms.sh [linux-i386] [windows-x64] [windows-x86]   (default: all three)
# Lean builds: Release plug-in, test programs at -O1, no command-line tools.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=platforms.sh
source "$root/scripts/platforms.sh"
"$root/scripts/setup-debian.sh"
jobs=$(nproc)

platforms=("$@")
[ ${#platforms[@]} -eq 0 ] && platforms=(linux-i386 windows-x64 windows-x86)

trap stop_wine EXIT
wine_started=false
for platform in "${platforms[@]}"; do
  started=$SECONDS
  echo "== $platform: build ==" >&2
  configure_platform "$platform" -DKESTRUNE_BUILD_TESTS=ON -DKESTRUNE_TEST_COMPILE_OPTIONS=-O1
  cmake --build "$(platform_build_dir "$platform")" -j "$jobs"
  built=$SECONDS

  echo "== $platform: test ==" >&2
  case "$platform" in
    windows-*)
      if ! $wine_started; then
        start_wine
        wine_started=true
      fi
      # A test program under wine mostly waits on the wine server, so more run at once.
      ctest --test-dir "$(platform_build_dir "$platform")" --output-on-failure -j $((jobs * 3)) --timeout 600
      ;;
    *)
      ctest --test-dir "$(platform_build_dir "$platform")" --output-on-failure -j "$jobs" --timeout 600
      ;;
  esac
  echo "== $platform: built in $((built - started)) s, tested in $((SECONDS - built)) s ==" >&2
done
