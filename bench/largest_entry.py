#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The largest single entry a 32-bit program applies under Wine, found by bisection.

Each trial writes a package with one entry of SIZE zero bytes (a small stream, so the image
stays small and the entry's own block is what must fit), puts it into a copy of the program
without a package with `tidepack program --stub`, applies it through the dialog with uidriver,
and counts the entry as applied when C:\\largest\\big.dat then holds SIZE bytes. With
--stored the stream is stored, not compressed: the image then holds all SIZE bytes as well.

Usage: bench/largest_entry.py STUB TIDEPACK UIDRIVER WORKDIR [--stored] [--low MIB] [--high MIB]
Needs an X server (DISPLAY) and 32-bit Wine; the Wine prefix is WORKDIR/prefix.
"""
import argparse
import os
import pathlib
import struct
import subprocess
import sys
import time
import zlib

ROOT = pathlib.Path(__file__).resolve().parent.parent
MIB = 1 << 20


def text(value, width):
    data = value.encode("ascii")
    return data + b"\0" * (width - len(data))


def write_package(path, size, stored):
    """The package format of src/package/package.h: header, one entry, its stream, no moves."""
    header = (struct.pack("<I", 0) + text("Largest", 64) + text("1", 16) +
              text("HKEY_CURRENT_USER\\Software\\Tidewell Bench\\none", 256) +
              text("InstallDir", 32) + text("C:\\largest", 256) + text("", 256) +
              struct.pack("<i", 1) + b"\0" * (5 * 320))
    stream_offset = len(header) + 4368
    with open(path, "wb") as out:
        out.write(header)
        out.write(b"\0" * 4368)  # the entry, written once the stream's length is known
        compressor = zlib.compressobj(0 if stored else 9)
        zeros = bytes(16 * MIB)
        left = size
        while left:
            piece = min(left, len(zeros))
            out.write(compressor.compress(zeros[:piece]))
            left -= piece
        out.write(compressor.flush())
        compressed = out.tell() - stream_offset
        out.write(struct.pack("<i", 0))
        out.seek(len(header))
        out.write(struct.pack("<III", stream_offset, compressed, size) + text("big.dat", 128) +
                  text("<InstallDir>", 128) + b"\0" * 4096 + struct.pack("<I", 1))


def applies(size, args):
    work = pathlib.Path(args.workdir)
    package, program = work / "largest.pkg", work / "Largest.exe"
    target = work / "prefix/drive_c/largest/big.dat"
    write_package(package, size, args.stored)
    subprocess.run([args.tidepack, "program", str(package), "-o", str(program), "--stub",
                    args.stub], check=True, stdout=subprocess.DEVNULL)
    package.unlink()
    if target.exists():
        target.unlink()
    target.parent.mkdir(parents=True, exist_ok=True)
    env = dict(os.environ, TIDEWELL_WINEPREFIX=str(work / "prefix"))
    run = [str(ROOT / "scripts/wine-run")]
    started = time.monotonic()
    program_process = subprocess.Popen(run + [str(program)], env=env, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)

    def driver(*words):
        return subprocess.run(run + [args.uidriver] + list(words), env=env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode

    ok = (driver("find", "60000") == 0 and driver("click", "1000") == 0 and
          driver("wait", "cancel.enabled", "0", "900000") == 0)
    driver("click", "1000")
    try:
        program_process.wait(60)
    except subprocess.TimeoutExpired:
        program_process.kill()
        ok = False
    got = target.stat().st_size if target.exists() else -1
    print("%5d MiB: %s (%.0f s)" % (size // MIB, "applied" if ok and got == size else
                                    "not applied", time.monotonic() - started), flush=True)
    if target.exists():
        target.unlink()
    for leftover in (work / "prefix/drive_c/users").rglob("vq*.tmp"):
        leftover.unlink()
    return ok and got == size


def main():
    parser = argparse.ArgumentParser()
    for name in ("stub", "tidepack", "uidriver", "workdir"):
        parser.add_argument(name)
    parser.add_argument("--stored", action="store_true")
    parser.add_argument("--low", type=int, default=64, help="MiB that applies")
    parser.add_argument("--high", type=int, default=4095, help="MiB that does not")
    parser.add_argument("--step", type=int, default=32, help="stop when within this many MiB")
    args = parser.parse_args()
    args.workdir = os.path.abspath(args.workdir)
    os.makedirs(args.workdir, exist_ok=True)
    low, high = args.low, args.high
    while high - low > args.step:
        middle = (low + high) // 2
        if applies(middle * MIB, args):
            low = middle
        else:
            high = middle
    print("largest entry applied: %d MiB (%d MiB did not apply)" % (low, high))
    subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=os.path.join(
        args.workdir, "prefix")))
    return 0


if __name__ == "__main__":
    sys.exit(main())
