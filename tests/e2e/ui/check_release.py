#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Checks that a built program can ship to the first Windows of its architecture, read from its
PE file (the machine field of its header says which: 32-bit Windows XP SP3, or the first 64-bit
Windows, XP x64 and Server 2003 SP1):

- it imports (plainly or delay-loaded) only Windows' own DLLs that Windows takes from the
  system folder whatever lies beside the program (KnownDLLs), and from them only functions that
  Windows has: a Win32 function counts when the SDK headers declare it for that Windows
  (_WIN32_WINNT 0x0501 or 0x0502), a C run-time function when it is in that Windows' table of
  msvcrt.dll below;
- it carries the notices of what it is made of (resource NOTICES 1): ours and libdeflate's;
- it carries no debug section, no time stamp and a correct PE checksum, and its resource
  section's data starts on a page boundary in the file (Wine maps it rather than copying it);
- it is Terminal-Server-aware, large-address-aware, compatible with data execution prevention
  and relocatable (ASLR), and runs from the swap file when started from removable or network
  media.

Usage: check_release.py EXE C_COMPILER
"""
import glob
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

I386, AMD64 = 0x14C, 0x8664
# What each architecture's first Windows offers: the _WIN32_WINNT its headers are read with, the
# newest subsystem version it starts, and its msvcrt.dll. The x64 msvcrt of XP x64 / Server 2003
# SP1 also exports the data the x64 start-up code takes directly, and __iob_func for _iob.
FIRST_WINDOWS = {
    I386: ("Windows XP SP3", 0x0501, (5, 1), MSVCRT_XP),
    AMD64: ("Windows XP x64 / Server 2003 SP1", 0x0502, (5, 2),
            MSVCRT_XP | {"__iob_func", "_acmdln", "_commode", "_fmode"}),
}

# Vista's functions that mingw-w64's headers declare for every Windows version, so that the
# header probe below cannot tell them from XP's.
VISTA_DECLARED_ALWAYS = {"ShutdownBlockReasonCreate", "ShutdownBlockReasonDestroy",
                         "ShutdownBlockReasonQuery"}

LARGE_ADDRESS_AWARE, REMOVABLE_RUN_FROM_SWAP, NET_RUN_FROM_SWAP = 0x0020, 0x0400, 0x0800
DYNAMIC_BASE, NX_COMPAT, TERMINAL_SERVER_AWARE = 0x0040, 0x0100, 0x8000

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


def undeclared(compiler, winnt, names):
    """The names that the Windows headers do not declare for Windows version WINNT."""
    lines = ["#define WINVER %#06x" % winnt, "#define _WIN32_WINNT %#06x" % winnt,
             "#define _WIN32_IE 0x0600",
             "#include <windows.h>", "#include <objbase.h>", "#include <shlobj.h>",
             "#include <commctrl.h>", "#include <aclapi.h>", "#include <sddl.h>"]
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


def lacking(machine, table, compiler):
    """The imports ("dll!name") that the first Windows of MACHINE lacks, of TABLE as imports()
    gives it; COMPILER is a C compiler of that architecture's Windows headers."""
    _, winnt, _, msvcrt = FIRST_WINDOWS[machine]
    found = []
    # One probe of the headers for every Win32 DLL's names: each compile reads them all.
    win32 = sorted({n for dll in table if dll != "msvcrt.dll" for n in table[dll]})
    missing = set(undeclared(compiler, winnt, win32)) if win32 else set()
    missing |= VISTA_DECLARED_ALWAYS
    for dll in sorted(table):
        if dll == "msvcrt.dll":
            found += ["%s!%s" % (dll, n) for n in sorted(set(table[dll]) - msvcrt)]
        else:
            found += ["%s!%s" % (dll, n) for n in sorted(table[dll]) if n in missing]
    return found


def notices(pe):
    """The text of resource NOTICES 1, or None."""
    for rtype in getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None) and \
            pe.DIRECTORY_ENTRY_RESOURCE.entries or []:
        if rtype.name is None or str(rtype.name) != "NOTICES":
            continue
        for rid in rtype.directory.entries:
            if rid.id == 1:
                leaf = rid.directory.entries[0].data.struct
                return pe.get_data(leaf.OffsetToData, leaf.Size).decode("utf-8", "replace")
    return None


def words(text):
    return " ".join(text.split())


def check_notices(pe):
    text = notices(pe)
    check(text is not None, "no NOTICES resource")
    if text is None:
        return
    here = os.path.dirname(os.path.abspath(__file__))
    ours = open(os.path.join(here, "..", "..", "..", "LICENSE"), encoding="utf-8").read()
    check(words(ours) in words(text), "the notices lack the project's licence")
    # libdeflate's notice whole, as its source (where the build takes it from) carries it.
    copying = sorted(glob.glob("/opt/tidewell/src/libdeflate-*/COPYING"))
    check(copying and words(open(copying[-1], encoding="utf-8").read()) in words(text),
          "the notices lack libdeflate's (%s)" % (copying[-1] if copying else "no source"))
    print("notices: %d bytes" % len(text.encode("utf-8")))


def main():
    path, compiler = sys.argv[1], sys.argv[2]
    pe = pefile.PE(path)
    machine = pe.FILE_HEADER.Machine
    if machine not in FIRST_WINDOWS:
        print("FAIL: machine %#x is neither x86 nor x64" % machine)
        return 1
    windows, _, newest_subsystem, _ = FIRST_WINDOWS[machine]

    table = imports(pe)
    for dll in sorted(table):
        names = table[dll]
        print("imports %s: %s" % (dll, " ".join(sorted(names))))
        check(dll in KNOWN_DLLS, "imports %s, which is no KnownDLL of Windows" % dll)
        check(not any(n.startswith("#") for n in names), "imports %s by ordinal" % dll)
    missing = lacking(machine, table, compiler)
    print("functions %s lacks: %s" % (windows, " ".join(missing) or "none"))
    check(not missing, "imports functions %s lacks: %s" % (windows, " ".join(missing)))

    check_notices(pe)

    debug = [s.Name.rstrip(b"\0").decode() for s in pe.sections
             if s.Name.startswith(b".debug") or s.Name.startswith(b"/")]
    check(not debug, "debug sections: %s" % debug)
    debug_dir = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_DEBUG"]]
    check(debug_dir.Size == 0, "a debug directory of %d bytes" % debug_dir.Size)
    for section in pe.sections:
        if section.Name.rstrip(b"\0") == b".rsrc":
            check(section.PointerToRawData % 0x1000 == 0,
                  "resource section at file offset %#x, not on a page boundary"
                  % section.PointerToRawData)
    check(pe.FILE_HEADER.TimeDateStamp == 0, "time stamp %#x" % pe.FILE_HEADER.TimeDateStamp)
    check(pe.OPTIONAL_HEADER.CheckSum == pe.generate_checksum(),
          "checksum %#x, want %#x" % (pe.OPTIONAL_HEADER.CheckSum, pe.generate_checksum()))
    swap = REMOVABLE_RUN_FROM_SWAP | NET_RUN_FROM_SWAP
    check(pe.FILE_HEADER.Characteristics & swap == swap, "not marked to run from swap")
    check(pe.FILE_HEADER.Characteristics & LARGE_ADDRESS_AWARE, "not large-address-aware")
    dll_characteristics = pe.OPTIONAL_HEADER.DllCharacteristics
    check(dll_characteristics & TERMINAL_SERVER_AWARE, "not Terminal-Server-aware")
    check(dll_characteristics & NX_COMPAT, "not marked compatible with data execution prevention")
    # Without relocations Windows cannot move the image, whatever the flag says.
    relocations = pe.OPTIONAL_HEADER.DATA_DIRECTORY[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]].Size
    check(dll_characteristics & DYNAMIC_BASE and relocations,
          "not relocatable (ASLR): flag %#x, %d bytes of relocations"
          % (dll_characteristics & DYNAMIC_BASE, relocations))
    subsystem = (pe.OPTIONAL_HEADER.MajorSubsystemVersion,
                 pe.OPTIONAL_HEADER.MinorSubsystemVersion)
    check(subsystem <= newest_subsystem,
          "subsystem version %d.%d is newer than %s" % (subsystem + (windows,)))

    for failure in failures:
        print("FAIL:", failure)
    print("%s: %d bytes, %d failures" % (path, os.path.getsize(path), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
