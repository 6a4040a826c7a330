#!/usr/bin/env bash
# Runs a Windows program under wine for CTest (CMAKE_CROSSCOMPILING_EMULATOR of the mingw-w64
# toolchains). scripts/test-platforms.sh prepares the prefix and a persistent wine server before
# CTest starts; run by hand, this does the same on first use. A server that wine itself starts
# would inherit this program's pipes and hold CTest up until it exits, so the server is always
# started here first, detached from every stream. Wine's console ends lines with CR LF; the CRs
# are dropped from standard output so the GoogleTest list parser and CTest see plain lines.
#
# Three failures of wine itself, seen about once in 100 to 300 runs when several run at once, make
# the run repeat, at most twice, with a note on standard error (only the output of the last run
# reaches standard output and standard error):
# - wine's 32-bit loader dies of SIGSEGV while a finished program exits; a Windows program's own
#   crash never looks like that, wine turns it into an exception exit code;
# - CreateProcess fails when GoogleTest starts a death test's child process. GoogleTest then
#   aborts the test program (exit code 3) after writing "CHECK failed: ... CreateProcessA ..." to
#   the standard error it was capturing into a gte*.tmp file of the prefix's temp folder;
# - wine cannot start the program at all and falls back to the shell, which prints "ShellExecuteEx
#   failed: Internal error"; nothing of the program has run then (a file that is really missing
#   or not a program says "File not found" instead and is not repeated).
set -o pipefail
export WINEDEBUG="${WINEDEBUG:--all}"
prefix="${WINEPREFIX:-$HOME/.wine}"
mkdir -p "$prefix"
# Exits at once when a server is already running; otherwise one that lives 10 s past its last client.
wineserver -p10 </dev/null >/dev/null 2>&1
if [ ! -d "$prefix/drive_c/windows/system32" ]; then
  wineboot -i </dev/null >/dev/null 2>&1
fi

# Prints and removes the notes of death-test children that could not be started since the stamp.
death_test_start_failures() {
  local note
  find "$prefix"/drive_c/users/*/Temp -maxdepth 1 -name 'gte*.tmp' -newer "$1" 2>/dev/null |
    while read -r note; do
      if grep -qs "CHECK failed: File .*gtest-death-test.cc.*CreateProcess" "$note"; then
        cat "$note"
        rm -f "$note"
      fi
    done
}

output=$(mktemp)
errors=$(mktemp)
stamp=$(mktemp)
trap 'rm -f "$output" "$errors" "$stamp"' EXIT
readonly sigsegv_status=139 abort_status=3
for attempt in 1 2 3; do
  touch "$stamp"
  wine "$@" >"$output" 2>"$errors"
  status=$?
  reason=""
  if [ "$status" -ne 0 ] && grep -qs "ShellExecuteEx failed: Internal error" "$output" "$errors"; then
    reason="wine could not start the program"
  elif [ "$status" -eq "$sigsegv_status" ]; then
    reason="wine died of SIGSEGV"
  elif [ "$status" -eq "$abort_status" ]; then
    failure=$(death_test_start_failures "$stamp")
    [ -n "$failure" ] && reason="wine could not start a death test's child ($failure)"
  fi
  if [ -z "$reason" ] || [ "$attempt" -eq 3 ]; then
    break
  fi
  note="wine-run.sh: $reason running $* (attempt $attempt of 3); running it again"
  echo "$note" >&2
  # scripts/test-platforms.sh collects the notes here and counts them.
  [ -n "${KESTRUNE_WINE_RETRY_LOG:-}" ] && echo "$note" >>"$KESTRUNE_WINE_RETRY_LOG"
done
tr -d '\r' <"$output"
tr -d '\r' <"$errors" >&2
exit "$status"
