#!/usr/bin/env bash
# Builds Kestrune and the whole unit and integration suite for the platforms other than the build
# machine's own and runs the suite on each: Linux i386 natively, Windows x64 and x86 under wine.
# Run for all three, it then packs the release archives of all four platforms (scripts/package.sh).
#   scripts/test-platforms.sh [linux-i386] [windows-x64] [windows-x86]   (default: all three)
# Lean builds: Release plug-in, test programs at -O1, no command-line tools.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=platforms.sh
source "$root/scripts/platforms.sh"
"$root/scripts/setup-debian.sh"
jobs=$(nproc)

platforms=("$@")
pack=false
if [ ${#platforms[@]} -eq 0 ]; then
  platforms=(linux-i386 windows-x64 windows-x86)
  pack=true
fi

trap stop_wine EXIT
wine_started=false
passed_all=0
failed_all=0
for platform in "${platforms[@]}"; do
  started=$SECONDS
  echo "== $platform: build ==" >&2
  configure_platform "$platform" -DKESTRUNE_BUILD_TESTS=ON
  cmake --build "$(platform_build_dir "$platform")" -j "$jobs"
  built=$SECONDS

  echo "== $platform: test ==" >&2
  parallel=$jobs
  case "$platform" in
    windows-*)
      if ! $wine_started; then
        start_wine
        wine_started=true
        export KESTRUNE_WINE_RETRY_LOG="$WINEPREFIX/kestrune-retries.txt"
        rm -f "$KESTRUNE_WINE_RETRY_LOG"
      fi
      # A test program under wine mostly waits on the wine server, so more run at once.
      parallel=$((jobs * 3))
      ;;
  esac
  log="$(platform_build_dir "$platform")/ctest-output.txt"
  ctest --test-dir "$(platform_build_dir "$platform")" --output-on-failure -j "$parallel" --timeout 600 | tee "$log"
  # "100% tests passed, 0 tests failed out of 290"
  read -r failed total < <(sed -n 's/.* tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\1 \2/p' "$log")
  passed_all=$((passed_all + total - failed))
  failed_all=$((failed_all + failed))
  echo "== $platform: built in $((built - started)) s, tested in $((SECONDS - built)) s ==" >&2
done
stop_wine
if [ -s "${KESTRUNE_WINE_RETRY_LOG:-/nonexistent}" ]; then
  echo "== wine failed and was run again $(wc -l <"$KESTRUNE_WINE_RETRY_LOG") time(s): ==" >&2
  cut -c1-300 "$KESTRUNE_WINE_RETRY_LOG" >&2
elif $wine_started; then
  echo "== wine ran every test program at the first attempt ==" >&2
fi

if $pack; then
  started=$SECONDS
  echo "== release archives ==" >&2
  "$root/scripts/package.sh"
  echo "== packed in $((SECONDS - started)) s ==" >&2
fi
echo "platforms: $passed_all passed, $failed_all failed"
