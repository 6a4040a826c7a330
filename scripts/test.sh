#!/usr/bin/env bash
# Builds everything and runs the whole test suite: a normal optimised build, then a build with
# AddressSanitizer and UndefinedBehaviorSanitizer; the thread-stress test in a lean ThreadSanitizer
# build; the fuzz targets for a bounded time in a clang build; then the other platforms (Linux
# i386, Windows x64 and x86 under wine) and the release archives (scripts/test-platforms.sh).
# Warnings are errors. Prints the time of each stage at the end, so growth shows when it happens.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc)

stage_times=()
stage_started=$SECONDS
# stage NAME COMMAND...: runs one stage and records how long it took.
stage() {
  local name=$1; shift
  echo "== $name ==" >&2
  local started=$SECONDS
  "$@"
  stage_times+=("$(printf '%5d s  %s' $((SECONDS - started)) "$name")")
}
report_times() {
  echo "== time of each stage ==" >&2
  printf '%s\n' "${stage_times[@]}" >&2
  printf '%5d s  total\n' $((SECONDS - stage_started)) >&2
}
trap report_times EXIT

# run_suite PRESET: configure, build and test one configuration of CMakePresets.json.
run_suite() {
  cmake --preset "$1"
  cmake --build --preset "$1" -j "$jobs"
  ctest --preset "$1" -j "$jobs"
}

stage "set-up (packages)" "$root/scripts/setup-debian.sh"
stage "optimised build and suite" run_suite default
cat "$root"/build/tests/hosts/ardour-session-*/luasession-retries.txt "$root"/build/tests/hosts/ardour-inline/gui-retries.txt >&2 2>/dev/null || true

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
stage "AddressSanitizer + UndefinedBehaviorSanitizer build and suite" run_suite sanitize
stage "ThreadSanitizer build and the thread-stress test" run_suite tsan
stage "fuzz targets under AddressSanitizer + UndefinedBehaviorSanitizer (clang)" run_suite fuzz
unset ASAN_OPTIONS UBSAN_OPTIONS

stage "Linux i386, Windows x64, Windows x86; release archives" "$root/scripts/test-platforms.sh"
