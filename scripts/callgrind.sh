#!/usr/bin/env bash
# Instructions per frame of the audio path, counted by callgrind (valgrind): 48 kHz, blocks of 512,
# self-keyed, threshold -30 dB, 4:1, attack 10 ms, release 100 ms, for music that keeps the key
# above the threshold, music whose bass crosses zero, silence, the first 2 s of the release tail
# (the gain still moves) and the release tail once the gain is exactly 1.0 (see
# bench/CallgrindCase.cpp). Each case runs twice, with N and 2N measured blocks after the same
# lead-in (the first 2 s of the tail: with none and with 2 s of them); the difference of the two
# totals over the frames between leaves out the harness, loading and the lead-in. Peers that are
# not installed are reported as such.
#   scripts/callgrind.sh [PROCESSOR...]   (kestrune lv2 straightforward plain-gain lsp zamx2 zam nothing;
#                                          lv2 is the LV2 edition's run with its meters, nothing
#                                          shows what is left of the harness per frame)
# N (default 100, at most 200) and KESTRUNE_BUILD_DIR can be set in the environment, and
# KESTRUNE_BENCH_MODULE names another build of Kestrune.so to count instead of build/'s
# (KESTRUNE_BENCH_LV2_MODULE another kestrune.so of the LV2 edition).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${KESTRUNE_BUILD_DIR:-$root/build}"
blocks="${N:-100}"
frames_per_block=512

command -v valgrind >/dev/null || { echo "error: valgrind is not installed (./scripts/setup-debian.sh --bench)" >&2; exit 1; }
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRUNE_SANITIZE=OFF >&2
fi
cmake --build "$build" --target kestrune_callgrind_case -j 2 >&2
harness="$build/bench/kestrune_callgrind_case"

# Total instructions of one run, or the harness's message when it could not run the case.
instructions() {
  local log status
  log=$(mktemp)
  status=0
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$harness" "$@" >"$log.out" 2>"$log" || status=$?
  if [ "$status" -ne 0 ]; then
    grep -v '^==' "$log" | head -1
    rm -f "$log" "$log.out"
    return 1
  fi
  sed -n 's/^==[0-9]*== Collected : \([0-9]*\)$/\1/p' "$log"
  rm -f "$log" "$log.out"
}

processors=("$@")
[ ${#processors[@]} -gt 0 ] || processors=(kestrune lv2 straightforward plain-gain lsp zamx2 zam nothing)
moving_blocks=188  # 2 s at 48 kHz
printf '%-16s %10s %10s %10s %18s %18s\n' "instr/frame" "music" "crossing" "silence" "moving tail, 2 s" \
  "tail at gain 1.0"
for processor in "${processors[@]}"; do
  row=$(printf '%-16s' "$processor")
  for case in music crossing silence moving tail; do
    from=$blocks to=$((2 * blocks)) width=10
    if [ "$case" = moving ]; then from=0 to=$moving_blocks; fi
    if [ "$case" = moving ] || [ "$case" = tail ]; then width=18; fi
    if one=$(instructions "$processor" "$case" "$from") && two=$(instructions "$processor" "$case" "$to"); then
      cell=$(awk -v a="$one" -v b="$two" -v f=$(((to - from) * frames_per_block)) 'BEGIN { printf "%.1f", (b - a) / f }')
    else
      cell="${one:-${two:-failed}}"
      row=$(printf '%-16s %s' "$processor" "$cell")
      break
    fi
    row+=$(printf " %${width}s" "$cell")
  done
  echo "$row"
done
