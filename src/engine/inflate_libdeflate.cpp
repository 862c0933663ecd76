// SPDX-License-Identifier: MIT
#include <libdeflate.h>

#include "engine/inflate.h"

// An Inflater is libdeflate's decompressor under another name.
Inflater* OpenInflater() {
    libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
    return reinterpret_cast<Inflater*>(decompressor);
}

void CloseInflater(Inflater* inflater) {
    libdeflate_free_decompressor(reinterpret_cast<libdeflate_decompressor*>(inflater));
}

int InflateZlibStream(Inflater* inflater, const unsigned char* stream, std::uint32_t compressedSize,
                      unsigned char* out, std::uint32_t size) {
    // Without a place for the actual length, anything but exactly `size` bytes is an error.
    return libdeflate_zlib_decompress(reinterpret_cast<libdeflate_decompressor*>(inflater), stream,
                                      compressedSize, out, size, nullptr) == LIBDEFLATE_SUCCESS;
}
