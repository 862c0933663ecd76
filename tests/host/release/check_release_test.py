#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The release check's tables: each architecture is held to its own first Windows, so a function
that Windows lacks fails the check of that build, and one it has passes.

Usage: check_release_test.py CHECK_RELEASE_FOLDER. Exit 77 when a mingw compiler is missing."""
import os
import shutil
import sys

sys.path.insert(0, sys.argv[1])
import check_release  # noqa: E402

COMPILERS = {check_release.I386: "i686-w64-mingw32-gcc", check_release.AMD64: "x86_64-w64-mingw32-gcc"}
X86, X64 = check_release.I386, check_release.AMD64

# (name, machine, dll, function, lacking)
CASES = [
    ("XP's kernel32 on x86", X86, "kernel32.dll", "CreateFileA", False),
    ("Vista's GetTickCount64 on x86", X86, "kernel32.dll", "GetTickCount64", True),
    ("Vista's GetTickCount64 on x64", X64, "kernel32.dll", "GetTickCount64", True),
    ("Vista's ShutdownBlockReasonCreate on x86", X86, "user32.dll", "ShutdownBlockReasonCreate",
     True),
    ("Server 2003's SetDllDirectoryA on x64", X64, "kernel32.dll", "SetDllDirectoryA", False),
    ("x64 start-up data on x86", X86, "msvcrt.dll", "_acmdln", True),
    ("x64 start-up data on x64", X64, "msvcrt.dll", "_acmdln", False),
    ("__iob_func on x64", X64, "msvcrt.dll", "__iob_func", False),
    ("the UCRT's _get_output_format on x64", X64, "msvcrt.dll", "_get_output_format", True),
    ("a common run-time function on x64", X64, "msvcrt.dll", "memcpy", False),
]


def main():
    missing = [c for c in COMPILERS.values() if not shutil.which(c)]
    if missing:
        print("SKIP: no %s (scripts/install-deps installs the mingw-w64 compilers)" % missing)
        return 77
    failures = 0
    for name, machine, dll, function, want in CASES:
        got = check_release.lacking(machine, {dll: [function]}, COMPILERS[machine])
        if bool(got) != want or check_release.failures:
            print("FAIL: %s: lacking %s, want %s %s" % (name, got, want, check_release.failures))
            failures += 1
        else:
            print("ok: %s" % name)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
