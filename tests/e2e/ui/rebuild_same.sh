#!/usr/bin/env bash
# Builds the program a second time, from the same sources and package, in a fresh build folder
# elsewhere, and compares it with the first byte for byte: a release must not depend on when or
# where it was built.
#
# Usage: rebuild_same.sh SOURCE_DIR TOOLCHAIN_FILE PACKAGE EXECUTION_LEVEL PROGRAM
set -euo pipefail
source_dir=$1 toolchain=$2 package=$3 level=$4 program=$5
folder=$(mktemp -d "${TMPDIR:-/tmp}/tidewell-rebuild.XXXXXX")
trap 'rm -rf "$folder"' EXIT
cmake -S "$source_dir" -B "$folder" -G "Unix Makefiles" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DTIDEWELL_PACKAGE="$package" \
    -DTIDEWELL_EXECUTION_LEVEL="$level" >"$folder.log" 2>&1 ||
    { cat "$folder.log"; exit 1; }
cmake --build "$folder" --target Tidewell -j 2 >>"$folder.log" 2>&1 || { tail -40 "$folder.log"; exit 1; }
rm -f "$folder.log"
if cmp "$program" "$folder/Tidewell.exe"; then
    echo "ok: a second build in $folder gives the same $(stat -c %s "$program") bytes"
else
    echo "FAIL: a second build differs from $program"
    exit 1
fi
