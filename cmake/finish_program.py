#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Finishes a linked program in place: marks it to run from the swap file when started from
removable or network media (the package is read from the program's own image, so losing the
medium mid-run must not crash it), clears the time stamp, moves the resource section's data to
a page boundary in the file and sets the PE checksum. GNU ld can do none of the first, third and
last.

Wine maps a section whose data starts on a page boundary and reads any other into private memory
at load: for the resource section, which holds the package, that is start-up time and memory in
proportion to the package. Windows maps the image either way; the cost is under a page of
padding. Only file offsets move, never an address, so nothing inside the image changes.

Usage: finish_program.py EXE
"""
import sys

import pefile

REMOVABLE_RUN_FROM_SWAP = 0x0400
NET_RUN_FROM_SWAP = 0x0800
PAGE = 0x1000


def page_align_resources(image):
    """The image with zeros before the resource section's data up to a page boundary, and the
    data of every section from there on moved by as much."""
    pe = pefile.PE(data=bytes(image), fast_load=True)
    rsrc = [s for s in pe.sections if s.Name.rstrip(b"\0") == b".rsrc"]
    # A stripped program has no symbol table, whose file offset would move too.
    if not rsrc or rsrc[0].PointerToRawData % PAGE == 0 or pe.FILE_HEADER.PointerToSymbolTable:
        pe.close()
        return image
    start = rsrc[0].PointerToRawData
    pad = PAGE - start % PAGE
    for section in pe.sections:
        if section.PointerToRawData >= start:
            section.PointerToRawData += pad
    headers = pe.write()
    pe.close()
    return bytes(headers[:start]) + bytes(pad) + bytes(image[start:])


def main():
    path = sys.argv[1]
    pe = pefile.PE(path, fast_load=True)
    pe.FILE_HEADER.Characteristics |= REMOVABLE_RUN_FROM_SWAP | NET_RUN_FROM_SWAP
    pe.FILE_HEADER.TimeDateStamp = 0
    image = page_align_resources(pe.write())
    pe.close()
    # The checksum covers the header just changed, so it is taken from the written bytes.
    pe = pefile.PE(data=bytes(image), fast_load=True)
    pe.OPTIONAL_HEADER.CheckSum = pe.generate_checksum()
    image = pe.write()
    with open(path, "wb") as out:
        out.write(image)
    return 0


if __name__ == "__main__":
    sys.exit(main())
