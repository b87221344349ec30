#!/usr/bin/env bash
# Builds VINSTALLDLL.dll a second time, later, from a copy of the sources at
# another path into a build tree at another path, with the first build's
# settings and SOURCE_DATE_EPOCH, and fails unless the two files are the same
# bytes; scripts/pe-diff.sh names where they differ.
#
#   tests/reproducible.sh DLL EPOCH-FILE SETTINGS WORK-DIR
#     DLL         the first build's VINSTALLDLL.dll
#     EPOCH-FILE  the SOURCE_DATE_EPOCH it was linked with
#     SETTINGS    its cache settings, as a cmake -C script
#     WORK-DIR    a folder this test may empty
set -euo pipefail
dll="$1" epoch_file="$2" settings="$3" work="$4"
source_dir=$(cd "$(dirname "$0")/.." && pwd)

# Paths of other lengths than the first tree's, so that no path can go
# unnoticed in the bytes.
rm -rf "$work"
other_source="$work/a second copy of the sources"
other_build="$work/another build tree"
mkdir -p "$other_source"
# What the library's build reads; tests/, tools/ and installer/ stay out.
cp -R "$source_dir/CMakeLists.txt" "$source_dir/cmake" "$source_dir/src" "$source_dir/res" "$other_source/"

SOURCE_DATE_EPOCH=$(cat "$epoch_file")
export SOURCE_DATE_EPOCH
echo "== building VINSTALLDLL.dll again in $other_build (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH)"
cmake -S "$other_source" -B "$other_build" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$other_source/cmake/mingw-w64.cmake" \
      -DBUILD_TESTING=OFF -DVINSTALL_SETUP_PROGRAM=OFF -C "$settings" >/dev/null
cmake --build "$other_build" --target VINSTALLDLL >/dev/null
"$source_dir/scripts/pe-diff.sh" "$dll" "$other_build/VINSTALLDLL.dll"
