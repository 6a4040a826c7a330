#!/usr/bin/env bash
# The main job: build the plug-in in both editions and its tool; install them for this user:
# Kestrune.so (VST 2.4) into ~/.vst, kestrune.lv2 (LV2) into ~/.lv2 and the kestrune command into
# ~/.local (bin, its manual page and bash completion); say what each installed host needs to find
# the VST module; show what a host sees; and render the demo through the plug-in into demo-out/.
#   KESTRUNE_VST_DIR=..., KESTRUNE_LV2_USER_DIR=... and KESTRUNE_TOOL_PREFIX=... install elsewhere.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup-debian.sh" --demo

# Only what the demo installs and runs: the test suite (scripts/test.sh) turns the tests and
# benchmarks on again in the same folder.
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRUNE_SANITIZE=OFF \
      -DKESTRUNE_BUILD_TESTS=OFF -DKESTRUNE_BUILD_BENCHMARKS=OFF
cmake --build "$root/build" -j "$(nproc)" --target Kestrune kestrune_lv2 kestrune kestrune_share

vst_dir=${KESTRUNE_VST_DIR:-$HOME/.vst}
tool_prefix=${KESTRUNE_TOOL_PREFIX:-$HOME/.local}
# install(1) writes a new file and renames it, so a host that has the old module loaded keeps it.
install -D -m 0644 "$root/build/Kestrune.so" "$vst_dir/Kestrune.so"
cmake --install "$root/build" --component tools --prefix "$tool_prefix" >/dev/null
echo "Installed $vst_dir/Kestrune.so and $tool_prefix/bin/kestrune (with kestrune(1) and its bash completion)" >&2

# The LV2 bundle goes to the user's own LV2 folder, which every LV2 host searches; a bundle left
# there by an earlier version is replaced whole.
lv2_dir="${KESTRUNE_LV2_USER_DIR:-$HOME/.lv2}"
mkdir -p "$lv2_dir"
rm -rf "$lv2_dir/kestrune.lv2"
cp -r "$root/build/lv2-bundles/kestrune.lv2" "$lv2_dir/"
echo "Installed the LV2 bundle into $lv2_dir/kestrune.lv2" >&2

case ":$PATH:" in
  *":$tool_prefix/bin:"* | *":$tool_prefix/bin/:"*) ;;
  *)
    echo "$tool_prefix/bin is not on your PATH. For this shell: export PATH=\"$tool_prefix/bin:\$PATH\"" >&2
    if [ "$tool_prefix" = "$HOME/.local" ] && grep -qs '\.local/bin' "$HOME/.profile"; then
      echo "(your ~/.profile adds it at your next login, now that the folder exists)" >&2
    fi
    ;;
esac

# What each installed host needs to find the VST module, asked of the host itself.
python3 -B "$root/scripts/host_search_paths.py" steps "$vst_dir" || true
echo

"$tool_prefix/bin/kestrune" info --plugin "$vst_dir/Kestrune.so"
echo
LV2_PATH="$lv2_dir:/usr/lib/lv2" lv2info urn:brisk-lantern:kestrune
"$tool_prefix/bin/kestrune" demo --plugin "$vst_dir/Kestrune.so" -o "$root/demo-out"
