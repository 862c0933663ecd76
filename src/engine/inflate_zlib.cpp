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
    uLongf length = size;
    if (uncompress(out, &length, stream, compressedSize) != Z_OK) return 0;
    return length == size;
}
