#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The shipped package-less program as a vendor's tidepack uses it, read on the build machine
# with no Wine, so it is checked wherever the program is built: a patch program made from the
# demo's releases in two folders (other names, other depths) is the same bytes, carries every
# resource and the package, passes the release check, and list and verify read it, signed.
#
# Usage: release_tidepack.sh SOURCE_DIR PYTHON TIDEPACK NOPACKAGE_EXE DEMO_OLD DEMO_NEW C_COMPILER
set -uo pipefail
source_dir=$1 python=$2 tidepack=$3 stub=$4 old=$5 new=$6 compiler=$7
if [ ! -x "$tidepack" ]; then
    echo "SKIP: no tidepack at $tidepack (scripts/test builds it first)"
    exit 77
fi
. "$source_dir/tests/e2e/ui/vendor.sh"
ENGLISH_KEY='HKCU\Software\Tidewell E2E\Shiosai Notes'
root=$(mktemp -d "${TMPDIR:-/tmp}/tidewell-vendor.XXXXXX")
trap 'rm -rf "$root"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

first=$root/one second=$root/second/folder/two
for dir in "$first" "$second"; do
    mkdir -p "$dir" && cp -r "$old" "$dir/old" && cp -r "$new" "$dir/new" || exit 1
    (cd "$dir" && "$tidepack" diff old new -o patch.toml >/dev/null) || fail "diff in $dir"
    fill_manifest "$dir/patch.toml"
    (cd "$dir" && "$tidepack" build patch.toml -o patch.pkg >/dev/null &&
        "$tidepack" program patch.pkg -o Patch.exe --stub "$stub" >/dev/null) ||
        fail "build and program in $dir"
done
if cmp "$first/Patch.exe" "$second/Patch.exe"; then
    echo "ok: the same patch program from two folders, $(stat -c %s "$first/Patch.exe") bytes"
else
    fail "the patch programs made in two folders differ"
fi
"$python" "$source_dir/tests/e2e/ui/check_resources.py" "$first/Patch.exe" asInvoker \
    "$first/patch.pkg" >/dev/null || fail "resources of the patch program"
"$python" "$source_dir/tests/e2e/ui/check_release.py" "$first/Patch.exe" "$compiler" |
    grep -E '^FAIL' && fail "the patch program fails the release check"

listing=$("$tidepack" list "$first/Patch.exe" 2>&1) || fail "list: $listing"
case $listing in
    *Notes.exe*postupdate.exe*) echo "ok: list names the entries" ;;
    *) fail "list does not name the entries: $listing" ;;
esac
vendor_certificate "$root" || { fail "certificate"; exit 1; }
printf 'e2e-secret\n' >"$root/password"
"$tidepack" program "$first/patch.pkg" -o "$root/Signed.exe" --stub "$stub" \
    --sign "$root/vendor.p12" --password-file "$root/password" >/dev/null || fail "signed program"
report=$("$tidepack" verify --codepage 1252 "$root/Signed.exe" 2>&1) || fail "verify: $report"
case $report in
    *"signature holds: signer CN=Tidewell E2E Vendor"*) echo "ok: verify names the signer" ;;
    *) fail "verify does not name the signer: $report" ;;
esac
[ $failures = 0 ]
