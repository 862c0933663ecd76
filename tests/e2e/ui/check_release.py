#!/usr/bin/env python3
"""Checks that a built program can ship to any Windows from XP SP3 on, read from its PE file:

- it imports (plainly or delay-loaded) only Windows' own DLLs that Windows takes from the
  system folder whatever lies beside the program (KnownDLLs), and from them only functions that
  Windows XP SP3 has: a Win32 function counts when the SDK headers declare it for Windows XP
  (_WIN32_WINNT 0x0501), a C run-time function when it is in MSVCRT_XP below;
- it carries no debug section, no time stamp and a correct PE checksum;
- it is Terminal-Server-aware, large-address-aware and runs from the swap file when started
  from removable or network media.

Usage: check_release.py EXE C_COMPILER
"""
import os
import re
import subprocess
import sys
import tempfile

import pefile

# Windows' DLLs that are KnownDLLs on Windows 7 and later, so never loaded from the program's
# folder. comctl32 and version are not: the program loads them by full path at run time.
KNOWN_DLLS = {"advapi32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll", "ole32.dll",
              "shell32.dll", "user32.dll"}

# The C run-time functions the program uses, each checked to be in msvcrt.dll since Windows
# 2000. A new one fails this check until it has been looked up and added.
MSVCRT_XP = {
    "__getmainargs", "__initenv", "__mb_cur_max", "__p__acmdln", "__p__commode", "__p__fmode",
    "__set_app_type", "__setusermatherr", "_amsg_exit", "_cexit", "_errno", "_initterm", "_iob",
    "_onexit", "_vsnprintf", "abort", "atoi", "calloc", "exit", "fprintf", "fputc", "fputs", "free", "fwrite",
    "localeconv", "malloc", "memchr", "memcmp", "memcpy", "memmove", "memset", "setlocale",
    "signal", "strchr", "strerror", "strlen", "strncmp", "strrchr", "strstr", "vfprintf",
    "wcslen",
}

LARGE_ADDRESS_AWARE, REMOVABLE_RUN_FROM_SWAP, NET_RUN_FROM_SWAP = 0x0020, 0x0400, 0x0800
TERMINAL_SERVER_AWARE = 0x8000

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def imports(pe):
    """{dll (lower case): [function names]} of the import and delay-import tables."""
    found = {}
    for attr in ("DIRECTORY_ENTRY_IMPORT", "DIRECTORY_ENTRY_DELAY_IMPORT"):
        for entry in getattr(pe, attr, []):
            names = found.setdefault(entry.dll.decode().lower(), [])
            for symbol in entry.imports:
                names.append(symbol.name.decode() if symbol.name else "#%d" % symbol.ordinal)
    return found


def undeclared_for_xp(compiler, names):
    """The names that the Windows headers do not declare for Windows XP."""
    lines = ["#define WINVER 0x0501", "#define _WIN32_WINNT 0x0501", "#define _WIN32_IE 0x0600",
             "#include <windows.h>", "#include <objbase.h>", "#include <shlobj.h>",
             "#include <commctrl.h>"]
    lines += ["void *probe%d(void) { return (void *)&%s; }" % (k, name)
              for k, name in enumerate(names)]
    with tempfile.TemporaryDirectory() as folder:
        source = os.path.join(folder, "probe.c")
        with open(source, "w") as out:
            out.write("\n".join(lines) + "\n")
        result = subprocess.run([compiler, "-fsyntax-only", "-w", source], capture_output=True,
                                text=True, env=dict(os.environ, LC_ALL="C"))
    missing = set(re.findall(r"'(\w+)' undeclared", result.stderr))
    check(result.returncode == 0 or missing, "the header probe failed: " + result.stderr[:400])
    return sorted(missing)


def main():
    path, compiler = sys.argv[1], sys.argv[2]
    pe = pefile.PE(path)

    table = imports(pe)
    lacking = []
    for dll in sorted(table):
        names = table[dll]
        print("imports %s: %s" % (dll, " ".join(sorted(names))))
        check(dll in KNOWN_DLLS, "imports %s, which is no KnownDLL of Windows" % dll)
        check(not any(n.startswith("#") for n in names), "imports %s by ordinal" % dll)
        if dll == "msvcrt.dll":
            lacking += ["%s!%s" % (dll, n) for n in sorted(set(names) - MSVCRT_XP)]
        else:
            lacking += ["%s!%s" % (dll, n) for n in undeclared_for_xp(compiler, names)]
    print("functions Windows XP SP3 lacks: %s" % (" ".join(lacking) or "none"))
    check(not lacking, "imports functions Windows XP SP3 lacks: " + " ".join(lacking))

    debug = [s.Name.rstrip(b"\0").decode() for s in pe.sections
             if s.Name.startswith(b".debug") or s.Name.startswith(b"/")]
    check(not debug, "debug sections: %s" % debug)
    debug_dir = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_DEBUG"]]
    check(debug_dir.Size == 0, "a debug directory of %d bytes" % debug_dir.Size)
    check(pe.FILE_HEADER.TimeDateStamp == 0, "time stamp %#x" % pe.FILE_HEADER.TimeDateStamp)
    check(pe.OPTIONAL_HEADER.CheckSum == pe.generate_checksum(),
          "checksum %#x, want %#x" % (pe.OPTIONAL_HEADER.CheckSum, pe.generate_checksum()))
    swap = REMOVABLE_RUN_FROM_SWAP | NET_RUN_FROM_SWAP
    check(pe.FILE_HEADER.Characteristics & swap == swap, "not marked to run from swap")
    check(pe.FILE_HEADER.Characteristics & LARGE_ADDRESS_AWARE, "not large-address-aware")
    check(pe.OPTIONAL_HEADER.DllCharacteristics & TERMINAL_SERVER_AWARE,
          "not Terminal-Server-aware")
    subsystem = (pe.OPTIONAL_HEADER.MajorSubsystemVersion,
                 pe.OPTIONAL_HEADER.MinorSubsystemVersion)
    check(subsystem <= (5, 1) or pe.FILE_HEADER.Machine != 0x14C,
          "subsystem version %d.%d is newer than Windows XP" % subsystem)

    for failure in failures:
        print("FAIL:", failure)
    print("%s: %d bytes, %d failures" % (path, os.path.getsize(path), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
