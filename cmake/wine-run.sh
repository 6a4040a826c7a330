#!/usr/bin/env bash
# Runs a Windows program under wine for CTest (CMAKE_CROSSCOMPILING_EMULATOR of the mingw-w64
# toolchains). scripts/test-platforms.sh prepares the prefix and a persistent wine server before
# CTest starts; run by hand, this does the same on first use. A server that wine itself starts
# would inherit this program's pipes and hold CTest up until it exits, so the server is always
# started here first, detached from every stream. Wine's console ends lines with CR LF; the CRs
# are dropped from standard output so the GoogleTest list parser and CTest see plain lines.
#
# Wine 8's 32-bit loader now and then dies of SIGSEGV while a finished program exits (about one
# run in 300 when several run at once). A Windows program's own crash never looks like that (wine
# turns it into an exception exit code), so such a run is repeated, at most twice, with a note on
# standard error; only the output of the last run reaches standard output.
set -o pipefail
export WINEDEBUG="${WINEDEBUG:--all}"
prefix="${WINEPREFIX:-$HOME/.wine}"
mkdir -p "$prefix"
# Exits at once when a server is already running; otherwise one that lives 10 s past its last client.
wineserver -p10 </dev/null >/dev/null 2>&1
if [ ! -d "$prefix/drive_c/windows/system32" ]; then
  wineboot -i </dev/null >/dev/null 2>&1
fi

output=$(mktemp)
trap 'rm -f "$output"' EXIT
readonly sigsegv_status=139
for attempt in 1 2 3; do
  wine "$@" >"$output"
  status=$?
  if [ "$status" -ne "$sigsegv_status" ] || [ "$attempt" -eq 3 ]; then
    break
  fi
  echo "wine-run.sh: wine died of SIGSEGV running $* (attempt $attempt of 3); running it again" >&2
done
tr -d '\r' <"$output"
exit "$status"
