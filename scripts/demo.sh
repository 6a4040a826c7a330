#!/usr/bin/env bash
# The main job: build the plug-in and its tool, install Kestrune.so where hosts look for it,
# show what a host sees, and render the demo through the plug-in into demo-out/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup-debian.sh" --demo

cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRUNE_SANITIZE=OFF
cmake --build "$root/build" -j "$(nproc)" --target Kestrune kestrune
cmake --install "$root/build" --component plugin

installed="${KESTRUNE_VST_DIR:-$(sed -n 's/^KESTRUNE_VST_DIR:PATH=//p' "$root/build/CMakeCache.txt")}/Kestrune.so"
"$root/build/tools/kestrune/kestrune" info --plugin "$installed"
"$root/build/tools/kestrune/kestrune" demo --plugin "$installed" -o "$root/demo-out"
