// SPDX-License-Identifier: MIT
// Little-endian reads from a file's bytes that refuse to leave them: every reader of an
// untrusted PE image goes through these.
#pragma once

#include <cstdint>

struct Bytes {
    const unsigned char* data;
    std::uint64_t size;
};

inline bool Inside(const Bytes& bytes, std::uint64_t offset, std::uint64_t length) {
    return offset <= bytes.size && length <= bytes.size - offset;
}

inline bool Read16(const Bytes& bytes, std::uint64_t offset, std::uint32_t* value) {
    if (!Inside(bytes, offset, 2)) return false;
    *value = bytes.data[offset] | static_cast<std::uint32_t>(bytes.data[offset + 1]) << 8;
    return true;
}

inline bool Read32(const Bytes& bytes, std::uint64_t offset, std::uint32_t* value) {
    if (!Inside(bytes, offset, 4)) return false;
    *value = bytes.data[offset] | static_cast<std::uint32_t>(bytes.data[offset + 1]) << 8 |
             static_cast<std::uint32_t>(bytes.data[offset + 2]) << 16 |
             static_cast<std::uint32_t>(bytes.data[offset + 3]) << 24;
    return true;
}
