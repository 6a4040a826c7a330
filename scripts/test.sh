#!/usr/bin/env bash
# Builds everything and runs the whole test suite twice: a normal optimised build, then a build
# with AddressSanitizer and UndefinedBehaviorSanitizer; then on the other platforms (Linux i386,
# Windows x64 and x86 under wine) and packs the four release archives (scripts/test-platforms.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup-debian.sh"
jobs=$(nproc)

run_suite() {
  local dir=$1; shift
  cmake -S "$root" -B "$dir" -G Ninja "$@"
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 600
}

echo "== optimised build ==" >&2
run_suite "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRUNE_SANITIZE=OFF
cat "$root"/build/tests/hosts/ardour-session-*/luasession-retries.txt >&2 2>/dev/null || true

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build ==" >&2
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run_suite "$root/build-sanitize" -DCMAKE_BUILD_TYPE=Debug -DKESTRUNE_SANITIZE=ON

echo "== Linux i386, Windows x64, Windows x86; release archives ==" >&2
unset ASAN_OPTIONS UBSAN_OPTIONS
"$root/scripts/test-platforms.sh"
