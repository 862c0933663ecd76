#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes fuzz/regressions/inflate/: one small stream for each kind that libdeflate takes and
zlib refuses, and an empty one, made by hand bit by bit. Each file is the fuzz target's input: the expected size
(two bytes, little-endian), then the zlib stream. The Adler-32 is that of what libdeflate makes.

    fuzz/inflate_regressions.py [folder]
"""
import os
import sys
import zlib

ORDER = [16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15]
LENGTH_BASE = [3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31, 35, 43, 51, 59, 67, 83,
               99, 115, 131, 163, 195, 227, 258, 258, 258]
DISTANCE_BASE = [1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193, 257, 385, 513, 769,
                 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 24577, 24577]


class Bits:
    def __init__(self):
        self.bits = []

    def put(self, value, count):  # least significant bit first
        self.bits += [(value >> i) & 1 for i in range(count)]

    def code(self, codeword, length):  # Huffman codewords go most significant bit first
        self.bits += [(codeword >> (length - 1 - i)) & 1 for i in range(length)]

    def bytes(self):
        padded = self.bits + [0] * (-len(self.bits) % 8)
        return bytes(sum(padded[i + j] << j for j in range(8)) for i in range(0, len(padded), 8))


def canonical(lengths):
    """Codeword per symbol (None where the length is 0), as the format assigns them."""
    codes, code = {}, 0
    for length in range(1, 16):
        for symbol, l in enumerate(lengths):
            if l == length:
                codes[symbol] = (code, length)
                code += 1
        code <<= 1
    return codes


FIXED_LITLEN = canonical([8] * 144 + [9] * 112 + [7] * 24 + [8] * 8)
FIXED_DISTANCE = canonical([5] * 32)


class Block:
    """One block; `out` follows what libdeflate writes, for the Adler-32 and the size."""

    def __init__(self, bits, out, final, litlen=None, distance=None, runs=None, precode=None,
                 counts=None):
        self.bits, self.out = bits, out
        bits.put(final, 1)
        if litlen is None:
            bits.put(1, 2)
            self.litlen, self.distance = FIXED_LITLEN, FIXED_DISTANCE
            return
        bits.put(2, 2)
        # `runs`: the code lengths as (precode symbol, extra bits), by default one per length.
        runs = runs or [(l, 0) for l in litlen + distance]
        counts = counts or (len(litlen), len(distance))
        bits.put(counts[0] - 257, 5)
        bits.put(counts[1] - 1, 5)
        bits.put(19 - 4, 4)
        for symbol in ORDER:
            bits.put(precode[symbol], 3)
        pre = canonical(precode)
        extra = {16: 2, 17: 3, 18: 7}
        for symbol, value in runs:
            code = pre.get(symbol, (1, 1))  # a one-codeword precode: either bit
            bits.code(*code)
            if symbol in extra:
                bits.put(value, extra[symbol])
        self.litlen, self.distance = canonical(litlen), canonical(distance)

    def literal(self, byte):
        self.bits.code(*self.litlen[byte])
        self.out.append(byte)

    def match(self, symbol, distance_symbol, distance_extra=0, distance_code=None, extra=0):
        self.bits.code(*self.litlen[symbol])
        index = symbol - 257
        extra_bits = 0 if index >= 28 or index < 8 else (index - 4) // 4
        self.bits.put(extra, extra_bits)
        length = LENGTH_BASE[index] + extra
        self.bits.code(*(distance_code or self.distance[distance_symbol]))
        distance_bits = 0 if distance_symbol < 4 else min(distance_symbol // 2 - 1, 13)
        self.bits.put(distance_extra, distance_bits)
        distance = DISTANCE_BASE[distance_symbol] + distance_extra
        for _ in range(length):
            self.out.append(self.out[-distance])

    def end(self, code=None):
        self.bits.code(*(code or self.litlen[256]))


def stream(make):
    bits, out = Bits(), bytearray()
    make(bits, out)
    body = b"\x78\x01" + bits.bytes() + zlib.adler32(bytes(out)).to_bytes(4, "big")
    return len(out).to_bytes(2, "little") + body


# The precode of the small dynamic blocks: lengths 0, 1 and 2 as three codewords.
PRE = [0] * 19
PRE[0], PRE[1], PRE[2] = 1, 2, 2
# A literal/length code of 'A' (1 bit), end of block and length 3 (2 bits each).
LITLEN = [0] * 65 + [1] + [0] * 190 + [2, 2]


def litlen_unused_codeword(bits, out):
    # A fixed block writes "A"; then a block whose only code is the end of block, sent as the
    # codeword the one-codeword code leaves unused ('1').
    b = Block(bits, out, 0)
    b.literal(65)
    b.end()
    b = Block(bits, out, 1, litlen=[0] * 256 + [1], distance=[1], precode=PRE)
    b.end(code=(1, 1))


def distance_unused_codeword(bits, out):
    b = Block(bits, out, 1, litlen=LITLEN, distance=[1], precode=PRE)
    b.literal(65)
    b.match(257, 0, distance_code=(1, 1))
    b.end()


def precode_one_codeword(bits, out):
    # The precode has one codeword of one bit, so every length read is the same; libdeflate
    # takes the precode, but no literal/length code can come of it: both refuse the stream.
    precode = [0] * 19
    precode[8] = 1
    Block(bits, out, 1, litlen=[8] * 257, distance=[8], precode=precode)


def empty_distance_code(bits, out):
    b = Block(bits, out, 1, litlen=LITLEN, distance=[0], precode=PRE)
    b.literal(65)
    b.match(257, 0, distance_code=(0, 1))
    b.end()


def fixed_length_286(bits, out):
    b = Block(bits, out, 1)
    b.literal(65)
    b.bits.code(*FIXED_LITLEN[286])  # libdeflate: length 258
    b.bits.code(*FIXED_DISTANCE[0])
    out.extend(b"A" * 258)
    b.literal(66)
    b.bits.code(*FIXED_LITLEN[287])
    b.bits.code(*FIXED_DISTANCE[0])
    out.extend(b"B" * 258)
    b.end()


def distance_30(bits, out):
    # Enough output for the first distance libdeflate gives symbol 30 (24,577), then a match
    # of 3 bytes at that distance, and one at symbol 31's.
    b = Block(bits, out, 1)
    for byte in b"Tidewell":
        b.literal(byte)
    while len(out) < 24577 + 8:
        b.match(285, 5, distance_extra=1)  # length 258, distance 8
    b.match(257, 30)
    b.match(257, 31, distance_extra=5)
    b.end()


def header_288_codes(bits, out):
    # 288 literal/length and 32 distance lengths declared, the last ones 0.
    litlen = LITLEN + [0] * 30
    distance = [1, 1] + [0] * 30
    b = Block(bits, out, 1, litlen=litlen, distance=distance, precode=PRE)
    b.literal(65)
    b.match(257, 0)
    b.end()


def lengths_run_past_end(bits, out):
    # 257 + 1 lengths declared: 'A' and the end of block 1 bit each, no distance code; the last
    # run of 3 zeros reaches 2 past the end.
    litlen = [0] * 65 + [1] + [0] * 190 + [1]
    runs = [(18, 65 - 11), (1, 0), (18, 138 - 11), (18, 52 - 11), (1, 0), (17, 0)]
    precode = [0] * 19
    precode[18], precode[1], precode[17] = 1, 2, 2
    b = Block(bits, out, 1, litlen=litlen, distance=[0], precode=precode, runs=runs)
    b.literal(65)
    b.end()


def empty_output(bits, out):
    # Nothing at all, which both take: the outputs to compare are empty.
    Block(bits, out, 1).end()


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__),
                                                                "regressions", "inflate")
    for make in (litlen_unused_codeword, distance_unused_codeword, precode_one_codeword,
                 empty_distance_code, fixed_length_286, distance_30, header_288_codes,
                 lengths_run_past_end, empty_output):
        with open(os.path.join(folder, make.__name__.replace("_", "-")), "wb") as f:
            f.write(stream(make))


if __name__ == "__main__":
    main()
