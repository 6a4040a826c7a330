#!/usr/bin/env bash
# The main job: build the plug-in in both editions and its tool, install Kestrune.so (VST 2.4)
# and kestrune.lv2 (LV2) where hosts look for them, show what a host sees, and render the demo
# through the plug-in into demo-out/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup-debian.sh" --demo

cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRUNE_SANITIZE=OFF
cmake --build "$root/build" -j "$(nproc)" --target Kestrune kestrune_lv2 kestrune
cmake --install "$root/build" --component plugin

# The LV2 bundle goes to the user's own LV2 folder, which every LV2 host searches; a bundle left
# there by an earlier version is replaced whole.
lv2_dir="${KESTRUNE_LV2_USER_DIR:-$HOME/.lv2}"
mkdir -p "$lv2_dir"
rm -rf "$lv2_dir/kestrune.lv2"
cp -r "$root/build/lv2-bundles/kestrune.lv2" "$lv2_dir/"
echo "Installed the LV2 bundle into $lv2_dir/kestrune.lv2" >&2

installed="${KESTRUNE_VST_DIR:-$(sed -n 's/^KESTRUNE_VST_DIR:PATH=//p' "$root/build/CMakeCache.txt")}/Kestrune.so"
"$root/build/tools/kestrune/kestrune" info --plugin "$installed"
echo
LV2_PATH="$lv2_dir:/usr/lib/lv2" lv2info urn:brisk-lantern:kestrune
"$root/build/tools/kestrune/kestrune" demo --plugin "$installed" -o "$root/demo-out"
