#!/usr/bin/env bash
# Speed of the audio path in one run: builds the module and the benchmark in build/ (the build type
# the demo installs), then runs it pinned to one core. Prints ns/frame of Kestrune beside the
# straightforward per-frame loop, a plain gain loop and the peer compressors that are installed
# (zam-plugins, lsp-plugins-vst; optional), and their ratios. Arguments go to the benchmark
# (e.g. --benchmark_repetitions=9). KESTRUNE_BENCH_CPU picks the core (default: the last one);
# KESTRUNE_BENCH_MODULE names another build of Kestrune.so to measure instead of build/'s.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${KESTRUNE_BUILD_DIR:-$root/build}"

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRUNE_SANITIZE=OFF
fi
cmake --build "$build" --target kestrune_bench -j 2 >&2

cpu="${KESTRUNE_BENCH_CPU:-$(($(nproc) - 1))}"
exec taskset -c "$cpu" "$build/bench/kestrune_bench" "$@"
