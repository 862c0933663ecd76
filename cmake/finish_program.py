#!/usr/bin/env python3
"""Finishes a linked program in place: marks it to run from the swap file when started from
removable or network media (the package is read from the program's own image, so losing the
medium mid-run must not crash it), clears the time stamp and sets the PE checksum.
GNU ld can do none of the first and last.

Usage: finish_program.py EXE
"""
import sys

import pefile

REMOVABLE_RUN_FROM_SWAP = 0x0400
NET_RUN_FROM_SWAP = 0x0800


def main():
    path = sys.argv[1]
    pe = pefile.PE(path, fast_load=True)
    pe.FILE_HEADER.Characteristics |= REMOVABLE_RUN_FROM_SWAP | NET_RUN_FROM_SWAP
    pe.FILE_HEADER.TimeDateStamp = 0
    image = pe.write()
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
