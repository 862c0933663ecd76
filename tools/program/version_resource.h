// SPDX-License-Identifier: MIT
// A program's version information read from its PE bytes, as Windows' GetFileVersionInfo and
// VerQueryValue give it, so the version rule can run where those calls do not exist.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The version resource (RT_VERSION 1, the first language) of a PE image: its bytes, cut to
// the length its root block states. Returns 1; 0 when the bytes are no PE image, it has no
// version resource, or the root block does not fit the resource.
int ReadVersionResource(const unsigned char* data, std::uint64_t size,
                        std::vector<unsigned char>* block);

// A value of a 32-bit (Unicode) version block, found by VerQueryValue's path:
// "\VarFileInfo\Translation", "\StringFileInfo\040904B0\ProductVersion", keys matched without
// regard to ASCII case. Returns 1 with where the value lies in `block` and whether it is a
// text, whose length is then in UTF-16 units up to its NUL or the value's end; a binary
// value's length is in bytes. 0 when a key is missing or a block's lengths leave it.
struct VersionValue {
    std::size_t offset = 0;
    std::size_t length = 0;
    bool text = false;
};
int FindVersionValue(const unsigned char* block, std::size_t size, const std::string& queryPath,
                     VersionValue* value);
