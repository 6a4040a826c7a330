#!/usr/bin/env bash
# Builds Kestrune for Linux x86_64, Linux i386, Windows x64 and Windows x86 and packs each into
# dist/: Kestrune-<version>-<platform>.tar.gz (Linux) or .zip (Windows), holding one folder with
# the stripped module, README.md and LICENSE, and on Linux also the LV2 bundle kestrune.lv2/. Each
# packed module is checked to export exactly its entry (VSTPluginMain, lv2_descriptor) and to need
# only system libraries. The Linux x86_64 archive also carries the kestrune command as an install
# tree (bin/, share/: plot script, manual page, bash completion).
#   scripts/package.sh [PLATFORM...]   (default: all four)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=platforms.sh
source "$root/scripts/platforms.sh"
"$root/scripts/setup-debian.sh"
jobs=$(nproc)

platforms=("$@")
[ ${#platforms[@]} -eq 0 ] && platforms=("${kestrune_platforms[@]}")

dist="$root/dist"
mkdir -p "$dist"
for platform in "${platforms[@]}"; do
  build=$(platform_build_dir "$platform")
  # An existing build folder (e.g. of test-platforms.sh) keeps its other settings, tests included;
  # a new one is made without tests. Only the plug-in (and for the machine's own platform the
  # command, which links this system's libraries) is built here.
  with_tool=false
  [ "$platform" = linux-x86_64 ] && [ "$(uname -m)" = x86_64 ] && with_tool=true
  tool_options=()
  $with_tool && tool_options=(-DKESTRUNE_BUILD_TOOLS=ON -DKESTRUNE_BUILD_BENCHMARKS=OFF)
  if [ -f "$build/CMakeCache.txt" ]; then
    configure_platform "$platform" "${tool_options[@]}" >/dev/null
  else
    configure_platform "$platform" -DKESTRUNE_BUILD_TESTS=OFF "${tool_options[@]}" >/dev/null
  fi
  case "$platform" in
    linux-*) targets=(Kestrune kestrune_lv2) ;;
    *) targets=(Kestrune) ;;
  esac
  $with_tool && targets+=(kestrune kestrune_share)
  cmake --build "$build" -j "$jobs" --target "${targets[@]}"

  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
  case "$platform" in
    windows-*) module=Kestrune.dll format=PE extension=zip ;;
    *) module=Kestrune.so format=ELF extension=tar.gz ;;
  esac
  # ELF files also lose the compiler's version notes, which no loader reads
  strip_options=(--strip-unneeded)
  if [ "$format" = ELF ]; then strip_options+=(--remove-section=.comment); fi
  case "$platform" in
    windows-x64) binutils=x86_64-w64-mingw32- ;;
    windows-x86) binutils=i686-w64-mingw32- ;;
    *) binutils= ;;
  esac

  name="Kestrune-$version-$platform"
  stage="$build/package/$name"
  rm -rf "$build/package"
  mkdir -p "$stage"
  cp "$build/$module" "$root/README.md" "$root/LICENSE" "$stage/"
  "${binutils}strip" "${strip_options[@]}" "$stage/$module"
  for check in exports imports; do
    cmake -DMODULE="$stage/$module" -DFORMAT=$format -DNM="${binutils}nm" -DOBJDUMP="${binutils}objdump" \
          -DCHECK=$check -P "$root/tests/platform/CheckModuleFile.cmake"
  done
  if [[ "$platform" == linux-* ]]; then
    cp -r "$build/lv2-bundles/kestrune.lv2" "$stage/"
    strip "${strip_options[@]}" "$stage/kestrune.lv2/kestrune.so"
    # the editor, where the platform's build makes it (native builds only)
    [ ! -f "$stage/kestrune.lv2/kestrune_ui.so" ] || strip "${strip_options[@]}" "$stage/kestrune.lv2/kestrune_ui.so"
    for check in exports imports; do
      cmake -DMODULE="$stage/kestrune.lv2/kestrune.so" -DFORMAT=ELF -DNM=nm -DOBJDUMP=objdump -DCHECK=$check \
            -DENTRY=lv2_descriptor -P "$root/tests/platform/CheckModuleFile.cmake"
    done
  fi
  if $with_tool; then
    cmake --install "$build" --component tools --prefix "$stage" >/dev/null
    rm -rf "$stage/share/doc"  # the LICENSE is beside it already
    strip "${strip_options[@]}" "$stage/bin/kestrune"
    "$stage/bin/kestrune" --version >/dev/null
  fi

  archive="$dist/$name.$extension"
  rm -f "$archive"
  if [ "$extension" = zip ]; then
    (cd "$build/package" && cmake -E tar cf "$archive" --format=zip "$name")
  else
    (cd "$build/package" && cmake -E tar czf "$archive" "$name")
  fi
  echo "packed $archive" >&2
done
