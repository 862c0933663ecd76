// Inflating one entry's stream, whole, into a buffer of exactly its size. Two builds exist:
// zlib's uncompress (the default) and libdeflate's decompressor (CMake:
// TIDEWELL_INFLATER=libdeflate; about twice zlib's speed on whole buffers, but it also takes a
// stream whose one-codeword Huffman code uses its unused codeword, which zlib refuses).
#pragma once

#include <cstdint>

struct Inflater;

// The state one run inflates with, or null when it cannot be had (no memory).
Inflater* OpenInflater();
void CloseInflater(Inflater* inflater);

// 1 only when the `compressedSize` bytes at `stream` begin with one whole zlib stream whose
// data is exactly `size` bytes, written to `out`, and whose Adler-32 matches. Bytes after the
// stream are not looked at. On 0, `out` holds nothing to use.
int InflateZlibStream(Inflater* inflater, const unsigned char* stream, std::uint32_t compressedSize,
                      unsigned char* out, std::uint32_t size);
