// SPDX-License-Identifier: MIT
// Inflating one entry's stream, whole, into a buffer of exactly its size. Two builds exist:
// libdeflate's decompressor (the default; about twice zlib's speed on whole buffers) and zlib's
// uncompress (CMake: TIDEWELL_INFLATER=zlib). libdeflate also takes a few kinds of stream that
// zlib refuses and no compressor writes; README, "The inflater", names them.
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
