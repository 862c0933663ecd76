// SPDX-License-Identifier: MIT
// What the version rule needs from the platform: the version information of a file.
#pragma once

#include <cstddef>
#include <cstdint>

// Size in bytes of `path`'s version information, 0 when it has none, cannot be opened or does
// not exist. `*handle` is to be passed on to VersionInfoRead.
std::uint32_t VersionInfoSize(const char* path, std::uint32_t* handle);

// A zero-filled block of `size` bytes, or null; freed with VersionBlockFree.
void* VersionBlockAlloc(std::uint32_t size);
void VersionBlockFree(void* block);

// Reads `path`'s version information into `block` (`size` bytes). 1 when it was filled.
int VersionInfoRead(const char* path, std::uint32_t handle, std::uint32_t size, void* block);

// Looks up `queryPath` in a filled block. 1 with `*value` pointing at the value (inside the
// block) and `*length` its length as the platform reports it: bytes for the translation list;
// for a text, the platform's own count, which is not relied on.
int VersionQueryValue(const void* block, const char* queryPath, const void** value,
                      std::uint32_t* length);

// For a version read from a program's bytes (version_image.h):

// The language id resources are looked up in before US English, as Windows' own reading of a
// file's version (GetFileVersionInfoA) picks it in this thread.
std::uint32_t UserResourceLanguage();

// `units` UTF-16LE units at `units16` (any alignment) as a text in the system's ANSI code page,
// as VerQueryValueA gives it, into `text` (`capacity` bytes). 1 when it fitted with its NUL.
int VersionTextToAnsi(const unsigned char* units16, std::uint32_t units, char* text,
                      std::size_t capacity);
