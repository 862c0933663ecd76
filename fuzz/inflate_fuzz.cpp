// zlib and libdeflate given the same stream and the same expected size: they must agree on
// whether it is accepted (one whole zlib stream giving exactly that many bytes, Adler-32 right)
// and, when it is, on every byte. One known difference is let through, and is why the program
// inflates with zlib: a Huffman code with a single codeword of one bit leaves the other
// codeword unused; libdeflate decodes that one as the single symbol, zlib refuses it ("invalid
// literal/length code", "invalid distance code"). Any other difference fails.
//
// Input: two bytes of expected size (little-endian), then the stream.
#include <libdeflate.h>
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

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

    // The program's own call must decide as the one that gives the message.
    const char* refusal;
    const bool zlibTakes = ZlibTakes(stream, streamLength, byZlib.data(), size, &refusal);
    uLongf zlibLength = size;
    std::vector<std::uint8_t> byUncompress(size + 1);
    const bool uncompressTakes =
        uncompress(byUncompress.data(), &zlibLength, stream, streamLength) == Z_OK &&
        zlibLength == size;
    if (uncompressTakes != zlibTakes) std::abort();

    static libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
    const bool libdeflateTakes =
        libdeflate_zlib_decompress(decompressor, stream, streamLength, byLibdeflate.data(), size,
                                   nullptr) == LIBDEFLATE_SUCCESS;

    const bool unusedCodeword = std::strcmp(refusal, "invalid literal/length code") == 0 ||
                                std::strcmp(refusal, "invalid distance code") == 0;
    if (zlibTakes != libdeflateTakes && !(libdeflateTakes && unusedCodeword)) std::abort();
    if (zlibTakes && libdeflateTakes && std::memcmp(byZlib.data(), byLibdeflate.data(), size) != 0)
        std::abort();
    return 0;
}
