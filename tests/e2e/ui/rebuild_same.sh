#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the release outputs a second time, from the same sources, in a fresh build folder
# elsewhere (another name, another depth, another time), and compares them with the first build
# byte for byte: the program with its package, the program without one, the demo package and
# the demo's own programs inside it. A release must not depend on when or where it was built.
#
# Usage: rebuild_same.sh SOURCE_DIR TOOLCHAIN_FILE EXECUTION_LEVEL INFLATER FIRST_BUILD [PACKAGE]
# PACKAGE: the package file the first build's Tidewell.exe carries; none: the demo package.
set -euo pipefail
source_dir=$1 toolchain=$2 level=$3 inflater=$4 first=$5 package=${6:-}
root=$(mktemp -d "${TMPDIR:-/tmp}/tidewell-rebuild.XXXXXX")
folder=$root/second/build log=$root.log
trap 'rm -rf "$root" "$log"' EXIT
# A second build for real: objects from a compiler cache would prove nothing.
export CCACHE_DISABLE=1
unset CMAKE_C_COMPILER_LAUNCHER CMAKE_CXX_COMPILER_LAUNCHER
cmake -S "$source_dir" -B "$folder" -G "Unix Makefiles" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DTIDEWELL_PACKAGE="$package" \
    -DTIDEWELL_EXECUTION_LEVEL="$level" -DTIDEWELL_INFLATER="$inflater" >"$log" 2>&1 ||
    { cat "$log"; exit 1; }
cmake --build "$folder" --target Tidewell tidewell_nopackage demo_package -j 2 >>"$log" 2>&1 ||
    { tail -40 "$log"; exit 1; }
status=0
for file in Tidewell.exe Tidewell-nopackage.exe demo/shiosai-notes-2.1.package \
    demo/update-2.1/Notes.exe demo/update-2.1/notecore.dll demo/update-2.1/spell.dll \
    demo/update-2.1/postupdate.exe; do
    if cmp "$first/$file" "$folder/$file"; then
        echo "ok: $file, $(stat -c %s "$first/$file") bytes, the same from a second build"
    else
        echo "FAIL: $file differs in a second build"
        status=1
    fi
done
exit $status
