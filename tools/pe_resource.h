// Finding the package inside a built patch program: resource RCDATA 1 of a PE image (PE32 or
// PE32+), read from the file's bytes with every offset checked against their length.
#pragma once

#include <cstdint>
#include <string>

struct PeResource {
    std::uint32_t offset;  // of the data in the file
    std::uint32_t size;
    std::uint32_t language;  // the language id it is stored under
};

// 1 when the bytes begin like a PE image ("MZ" and a "PE\0\0" signature where e_lfanew points).
int LooksLikePe(const unsigned char* data, std::uint64_t size);

// Finds resource `type`/`id` in the PE image. Of its languages, `language` is taken when it is
// there, else the first one. Returns 1 with the data's place in the file; 0 with the reason in
// `error` (not a PE image, no resource directory, no such resource, or a damaged directory).
int FindPeResource(const unsigned char* data, std::uint64_t size, std::uint32_t type,
                   std::uint32_t id, std::uint32_t language, PeResource* found, std::string* error);
