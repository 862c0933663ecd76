#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Plays a process of the same user that swaps the update's temporary files: each "vq*.tmp"
in FOLDER is rewritten with other bytes of the same length the moment the update closes it
(inotify, no rights needed). On SIGTERM it writes how many files it swapped to COUNT_FILE.

Usage: swap_watcher.py FOLDER COUNT_FILE
"""
import ctypes
import os
import signal
import struct
import sys

IN_CLOSE_WRITE = 0x8
SWAPPED_BYTE = b"W"


def main():
    folder, count_file = sys.argv[1], sys.argv[2]
    libc = ctypes.CDLL("libc.so.6", use_errno=True)
    fd = libc.inotify_init()
    if fd < 0 or libc.inotify_add_watch(fd, folder.encode(), IN_CLOSE_WRITE) < 0:
        raise SystemExit("inotify on %s: errno %d" % (folder, ctypes.get_errno()))
    swapped = set()

    def stop(*_):
        with open(count_file, "w") as out:
            out.write("%d\n" % len(swapped))
        sys.exit(0)

    signal.signal(signal.SIGTERM, stop)
    with open(count_file, "w") as out:
        out.write("ready\n")
    while True:
        data = os.read(fd, 65536)
        pos = 0
        while pos < len(data):
            _, _, _, length = struct.unpack_from("iIII", data, pos)
            name = data[pos + 16:pos + 16 + length].rstrip(b"\0").decode(errors="replace")
            pos += 16 + length
            # Its own rewrite closes the file too: each file is swapped once.
            if not name.lower().startswith("vq") or name in swapped:
                continue
            path = os.path.join(folder, name)
            try:
                size = os.path.getsize(path)
                with open(path, "r+b") as out:
                    out.write(SWAPPED_BYTE * size)
                swapped.add(name)
            except OSError:
                pass


if __name__ == "__main__":
    main()
