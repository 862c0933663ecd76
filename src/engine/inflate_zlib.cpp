// SPDX-License-Identifier: MIT
#include <zlib.h>

#include "engine/inflate.h"

// zlib needs no state between streams; any non-null address stands for it.
Inflater* OpenInflater() {
    static int state;
    return reinterpret_cast<Inflater*>(&state);
}

void CloseInflater(Inflater*) {}

int InflateZlibStream(Inflater*, const unsigned char* stream, std::uint32_t compressedSize,
                      unsigned char* out, std::uint32_t size) {
    // Given no room, uncompress inflates into a byte of its own and reports a stream of one
    // byte as empty; one byte of room of ours tells the two apart.
    unsigned char spare;
    uLongf length = size == 0 ? 1 : size;
    if (uncompress(size == 0 ? &spare : out, &length, stream, compressedSize) != Z_OK) return 0;
    return length == size;
}
