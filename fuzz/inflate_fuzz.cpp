// zlib and libdeflate given the same stream and the same expected size: they must agree on
// whether it is accepted (one whole zlib stream giving exactly that many bytes, Adler-32 right)
// and, when it is, on every byte. The update program uses one of them; a stream that only one
// would write must not exist.
//
// Input: two bytes of expected size (little-endian), then the stream.
#include <libdeflate.h>
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t length) {
    if (length < 2) return 0;
    const std::uint32_t size = data[0] | (data[1] << 8);
    const std::uint8_t* stream = data + 2;
    const std::size_t streamLength = length - 2;

    // Garbage-filled, and one byte longer than the data, as the program's entry buffer is.
    std::vector<std::uint8_t> byZlib(size + 1, 0xA5);
    std::vector<std::uint8_t> byLibdeflate(size + 1, 0x5A);

    uLongf zlibLength = size;
    const bool zlibTakes =
        uncompress(byZlib.data(), &zlibLength, stream, streamLength) == Z_OK && zlibLength == size;

    static libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
    const bool libdeflateTakes =
        libdeflate_zlib_decompress(decompressor, stream, streamLength, byLibdeflate.data(), size,
                                   nullptr) == LIBDEFLATE_SUCCESS;

    if (zlibTakes != libdeflateTakes) std::abort();
    if (zlibTakes && std::memcmp(byZlib.data(), byLibdeflate.data(), size) != 0) std::abort();
    return 0;
}
