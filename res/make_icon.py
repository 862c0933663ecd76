#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Draws the program's icon and writes it as a .ico file with four images, in this order:
16x16 with 16 colours, 16x16 with 256 colours, 32x32 with 16 colours, 32x32 with 256 colours
(windres numbers them 1 to 4 in file order).

The picture: a deep-blue disc (the well), a white crest of a wave across its lower half and a
yellow arrow rising out of it (the update). Everything is computed here, no image library.

Usage: make_icon.py OUTPUT.ico
"""
import math
import struct
import sys

# The 16 colours of the standard Windows palette.
VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def palette256():
    """A 6x6x6 colour cube and a ramp of greys: 216 + 40 entries."""
    levels = [0, 51, 102, 153, 204, 255]
    colours = [(r, g, b) for r in levels for g in levels for b in levels]
    colours += [(round(i * 255 / 39),) * 3 for i in range(40)]
    return colours


def shade(x, y):
    """Colour and coverage of the picture at (x, y) in the unit square, (0, 0) top left."""
    cx, cy, radius = 0.5, 0.5, 0.47
    d = math.hypot(x - cx, y - cy)
    if d > radius:
        return None
    # Arrow: a triangle head and a shaft, centred, above the wave.
    head = 0.16 <= y <= 0.42 and abs(x - 0.5) <= (y - 0.16) * 0.95
    shaft = 0.40 <= y <= 0.62 and abs(x - 0.5) <= 0.085
    if head or shaft:
        return (250, 210, 40)
    # Wave crest: a band around a sine curve.
    crest = 0.64 + 0.07 * math.sin((x - 0.1) * 2 * math.pi * 1.5)
    if abs(y - crest) <= 0.065:
        return (245, 250, 255)
    if y > crest:
        return (20, 90, 170)
    # The disc, lighter towards its top left.
    t = min(1.0, d / radius)
    return (int(30 + 40 * (1 - t)), int(60 + 70 * (1 - t)), int(140 + 80 * (1 - t)))


def render(size):
    """size x size pixels, each an (r, g, b) colour or None for transparent (4x4 samples)."""
    pixels = []
    n = 4
    for py in range(size):
        row = []
        for px in range(size):
            hits = []
            for sy in range(n):
                for sx in range(n):
                    c = shade((px + (sx + 0.5) / n) / size, (py + (sy + 0.5) / n) / size)
                    if c is not None:
                        hits.append(c)
            if len(hits) * 2 < n * n:
                row.append(None)
            else:
                row.append(tuple(sum(c[i] for c in hits) // len(hits) for i in range(3)))
        pixels.append(row)
    return pixels


def nearest(palette, colour):
    return min(range(len(palette)),
               key=lambda i: sum((palette[i][k] - colour[k]) ** 2 for k in range(3)))


def image_bits(size, bits):
    """One icon image: BITMAPINFOHEADER, palette, colour bits and the transparency mask."""
    palette = VGA16 if bits == 4 else palette256()
    pixels = render(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, 0, 0, 0,
                         len(palette), 0)
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    colour_stride = ((size * bits + 31) // 32) * 4
    mask_stride = ((size + 31) // 32) * 4
    colour = b""
    mask = b""
    for row in reversed(pixels):  # bottom-up rows
        indexes = [0 if c is None else nearest(palette, c) for c in row]
        if bits == 4:
            line = bytes((indexes[i] << 4) | indexes[i + 1] for i in range(0, size, 2))
        else:
            line = bytes(indexes)
        colour += line.ljust(colour_stride, b"\0")
        m = 0
        line = b""
        for i, c in enumerate(row):
            if c is None:
                m |= 0x80 >> (i % 8)
            if i % 8 == 7:
                line += bytes([m])
                m = 0
        mask += line.ljust(mask_stride, b"\0")
    return header + table + colour + mask


def main():
    images = [(16, 4), (16, 8), (32, 4), (32, 8)]
    data = [image_bits(size, bits) for size, bits in images]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (size, bits), blob in zip(images, data):
        colours = 16 if bits == 4 else 0  # 0 stands for 256 or more
        out += struct.pack("<BBBBHHII", size, size, colours, 0, 1, bits, len(blob), offset)
        offset += len(blob)
    out += b"".join(data)
    with open(sys.argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
