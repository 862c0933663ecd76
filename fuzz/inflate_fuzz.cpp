// SPDX-License-Identifier: MIT
// zlib and libdeflate given the same stream and the same expected size: they must agree on
// whether it is accepted (one whole zlib stream giving exactly that many bytes, Adler-32 right)
// and, when it is, on every byte. The program inflates with libdeflate, which takes a few
// streams zlib refuses; each is let through only when a third reading, Walk below, decodes the
// stream as libdeflate does, makes the same bytes, meets one of those kinds on the way, and the
// first it meets is where zlib stopped, with zlib's message for it. Any other difference fails.
//
// Input: two bytes of expected size (little-endian), then the stream.
#include <libdeflate.h>
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/inflate.h"

namespace {

// What libdeflate takes and zlib refuses, with the message zlib stops with.
enum Leniency {
    NONE,
    UNUSED_LITLEN_CODEWORD,    // one codeword of 1 bit: the other decodes as the same symbol
    UNUSED_DISTANCE_CODEWORD,  // the same in a distance code
    PRECODE_ONE_CODEWORD,      // a precode of one 1-bit codeword (no stream gets further)
    EMPTY_DISTANCE_CODE,       // no distance lengths, yet a match: distance 1
    LENGTH_286_287,            // fixed block: length 258
    DISTANCE_30_31,            // distance 24,577 and on
    TOO_MANY_CODES,            // 287 or 288 literal/length or 31 or 32 distance lengths
    RUN_PAST_END,              // a run of lengths beyond the count declared
};

const char* const ZLIB_MESSAGE[] = {
    "",
    "invalid literal/length code",
    "invalid distance code",
    "invalid code lengths set",
    "invalid distance code",
    "invalid literal/length code",
    "invalid distance code",
    "too many length or distance symbols",
    "invalid bit length repeat",
};

// A canonical Huffman code as libdeflate builds it: complete, empty (any 1 bit is symbol 0),
// or one codeword of 1 bit (either bit is that symbol).
struct Code {
    int count[16] = {};
    int symbol[320] = {};
    bool empty = false, single = false;

    bool Build(const std::uint8_t* lengths, int n) {
        for (int i = 0; i < n; ++i) ++count[lengths[i]];
        int offset[16] = {}, left = 1;
        for (int len = 1; len < 16; ++len) {
            left = left * 2 - count[len];
            if (left < 0) return false;
            offset[len] = len == 1 ? 0 : offset[len - 1] + count[len - 1];
        }
        for (int i = 0; i < n; ++i)
            if (lengths[i]) symbol[offset[lengths[i]]++] = i;
        empty = count[0] == n;
        single = count[1] == 1 && count[0] == n - 1;
        return left == 0 || empty || single;
    }
};

struct Walk {
    const std::uint8_t* in = nullptr;
    std::size_t end = 0, at = 0;  // in bits
    std::vector<std::uint8_t> out;
    std::uint32_t size = 0;
    Leniency first = NONE;
    bool failed = false;

    void Met(Leniency kind) {
        if (first == NONE) first = kind;
    }
    unsigned Bits(int n) {
        unsigned value = 0;
        for (int i = 0; i < n; ++i, ++at) {
            if (at >= end) {
                failed = true;
                return 0;
            }
            value |= ((in[at / 8] >> (at % 8)) & 1u) << i;
        }
        return value;
    }
    int Decode(const Code& code, Leniency unused) {
        if (code.empty || code.single) {
            if (Bits(1) && !code.empty) Met(unused);
            return code.empty ? 0 : code.symbol[0];
        }
        int codeword = 0, first = 0, index = 0;
        for (int len = 1; len < 16 && !failed; ++len) {
            codeword |= static_cast<int>(Bits(1));
            if (codeword - first < code.count[len]) return code.symbol[index + codeword - first];
            index += code.count[len];
            first = (first + code.count[len]) << 1;
            codeword <<= 1;
        }
        failed = true;
        return 0;
    }

    bool Stored() {
        at = (at + 7) / 8 * 8;
        unsigned length = Bits(16), complement = Bits(16);
        if (failed || length != (~complement & 0xFFFF) || at + 8 * length > end ||
            out.size() + length > size)
            return false;
        out.insert(out.end(), in + at / 8, in + at / 8 + length);
        at += 8 * length;
        return true;
    }

    bool Dynamic(Code* litlen, Code* distance) {
        int lengths = Bits(5) + 257, distances = Bits(5) + 1, precodes = Bits(4) + 4;
        if (lengths > 286 || distances > 30) Met(TOO_MANY_CODES);
        static const int ORDER[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                      11, 4,  12, 3, 13, 2, 14, 1, 15};
        std::uint8_t precodeLengths[19] = {};
        for (int i = 0; i < precodes; ++i) precodeLengths[ORDER[i]] = Bits(3);
        Code precode;
        if (!precode.Build(precodeLengths, 19)) return false;
        if (precode.single) Met(PRECODE_ONE_CODEWORD);
        std::uint8_t all[320 + 138] = {};
        int n = 0, total = lengths + distances;
        while (n < total && !failed) {
            int symbol = Decode(precode, PRECODE_ONE_CODEWORD);
            if (symbol < 16) {
                all[n++] = symbol;
                continue;
            }
            if (symbol == 16 && n == 0) return false;
            std::uint8_t value = symbol == 16 ? all[n - 1] : 0;
            int run = symbol == 16 ? 3 + Bits(2) : symbol == 17 ? 3 + Bits(3) : 11 + Bits(7);
            if (n + run > total) Met(RUN_PAST_END);
            while (run--) all[n++] = value;
        }
        return !failed && litlen->Build(all, lengths) && distance->Build(all + lengths, distances);
    }

    bool Huffman(const Code& litlen, const Code& distance) {
        static const int LENGTH[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                       15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                       67, 83, 99, 115, 131, 163, 195, 227, 258};
        static const int DISTANCE[30] = {
            1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
            193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
        for (;;) {
            int symbol = Decode(litlen, UNUSED_LITLEN_CODEWORD);
            if (failed) return false;
            if (symbol == 256) return true;
            if (symbol < 256) {
                if (out.size() == size) return false;
                out.push_back(static_cast<std::uint8_t>(symbol));
                continue;
            }
            symbol -= 257;
            int length;
            if (symbol >= 28) {
                if (symbol > 28) Met(LENGTH_286_287);
                length = 258;
            } else {
                int extra = symbol < 8 ? 0 : (symbol - 4) / 4;
                length = LENGTH[symbol] + Bits(extra);
            }
            if (distance.empty) Met(EMPTY_DISTANCE_CODE);
            int d = Decode(distance, UNUSED_DISTANCE_CODEWORD);
            if (d >= 30) Met(DISTANCE_30_31);
            int far = d >= 29 ? 24577 + Bits(13) : DISTANCE[d] + Bits(d < 4 ? 0 : d / 2 - 1);
            if (failed || far > static_cast<int>(out.size()) || out.size() + length > size)
                return false;
            while (length--) out.push_back(out[out.size() - far]);
        }
    }

    // Whether libdeflate takes the deflate data in the `end` bits at `in` (the zlib header and
    // Adler-32 are left to the two inflaters), with `out` what it made.
    bool Run() {
        for (bool final = false; !final;) {
            final = Bits(1);
            unsigned type = Bits(2);
            Code litlen, distance;
            if (failed || type == 3) return false;
            if (type == 0) {
                if (!Stored()) return false;
                continue;
            }
            if (type == 1) {
                std::uint8_t lengths[320];
                std::memset(lengths, 8, 144);
                std::memset(lengths + 144, 9, 112);
                std::memset(lengths + 256, 7, 24);
                std::memset(lengths + 280, 8, 8);
                std::memset(lengths + 288, 5, 32);
                litlen.Build(lengths, 288);
                distance.Build(lengths + 288, 32);
            } else if (!Dynamic(&litlen, &distance)) {
                return false;
            }
            if (!Huffman(litlen, distance)) return false;
        }
        return out.size() == size;
    }
};

// zlib's decision as uncompress makes it, and the message of a refusal.
bool ZlibTakes(const std::uint8_t* stream, std::size_t length, std::uint8_t* out,
               std::uint32_t size, const char** refusal) {
    *refusal = "";
    z_stream zlib = {};
    if (inflateInit(&zlib) != Z_OK) return false;
    zlib.next_in = const_cast<Bytef*>(stream);
    zlib.avail_in = static_cast<uInt>(length);
    zlib.next_out = out;
    zlib.avail_out = size + 1;  // one byte more tells "exactly size" from "more"
    int result = inflate(&zlib, Z_FINISH);
    bool takes = result == Z_STREAM_END && zlib.total_out == size;
    if (zlib.msg) *refusal = zlib.msg;
    inflateEnd(&zlib);
    return takes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t length) {
    if (length < 2) return 0;
    const std::uint32_t size = data[0] | (data[1] << 8);
    const std::uint8_t* stream = data + 2;
    const std::size_t streamLength = length - 2;

    // Garbage-filled, and one byte longer than the data, as the program's entry buffer is.
    std::vector<std::uint8_t> byZlib(size + 1, 0xA5);
    std::vector<std::uint8_t> byLibdeflate(size + 1, 0x5A);

    // The zlib build's own call must decide as the one that gives the message.
    const char* refusal;
    const bool zlibTakes = ZlibTakes(stream, streamLength, byZlib.data(), size, &refusal);
    std::vector<std::uint8_t> byProgram(size + 1);
    if (InflateZlibStream(nullptr, stream, static_cast<std::uint32_t>(streamLength),
                          byProgram.data(), size) != zlibTakes)
        std::abort();

    static libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
    const bool libdeflateTakes =
        libdeflate_zlib_decompress(decompressor, stream, streamLength, byLibdeflate.data(), size,
                                   nullptr) == LIBDEFLATE_SUCCESS;

    if (zlibTakes && !libdeflateTakes) std::abort();
    // An empty vector's data() may be null, which memcmp must never be given.
    if (zlibTakes && size != 0 && std::memcmp(byZlib.data(), byLibdeflate.data(), size) != 0)
        std::abort();
    if (!libdeflateTakes) return 0;

    // Taken by libdeflate: the walk must agree, and name a kind only where zlib refused.
    Walk walk;
    walk.in = stream + 2;
    walk.end = streamLength < 6 ? 0 : 8 * (streamLength - 6);
    walk.size = size;
    const bool walked = streamLength >= 6 && walk.Run();
    if (!walked || (size != 0 && std::memcmp(walk.out.data(), byLibdeflate.data(), size) != 0))
        std::abort();
    if (zlibTakes != (walk.first == NONE)) std::abort();
    if (!zlibTakes && std::strcmp(refusal, ZLIB_MESSAGE[walk.first]) != 0) std::abort();
    return 0;
}
