// SPDX-License-Identifier: MIT
// The version rule: does a packaged copy replace the installed file?
#pragma once

#include <cstddef>
#include <cstdint>

// Reads the ProductVersion text under the first translation pair of `path`'s version resource
// into `versionText` (VERSION_TEXT_SIZE bytes). Returns 1 with the text; 0 when the file has no
// readable ProductVersion (including one of 64 characters or more).
//
// Also 0: no version information, a block that cannot be allocated or read, an empty
// translation list, no ProductVersion under the first pair (no other pair is tried), and a text
// with no NUL before the block ends. The block is freed on every path.
int ReadProductVersion(const char* path, char* versionText);

// The decimal digits of `versionText`, in their order, as one number modulo 2^32.
// Every other byte is dropped, so "1.10" and "11.0" both give 110; no digits give 0.
std::uint32_t VersionNumber(const char* versionText);

// 1 when the packaged copy at `newFile` replaces the file at `installedFile`: unless both
// versions read and the new one's number is the smaller.
int IsNewerOrSame(const char* newFile, const char* installedFile);

// IsNewerOrSame, also writing what the rule read into `versions` (`capacity` bytes, may be null):
// "packaged 2.1.0.0, installed 3.0.0.0", "none" for a version not read, or the empty text when
// that does not fit.
int IsNewerOrSameWithVersions(const char* newFile, const char* installedFile, char* versions,
                              std::size_t capacity);

// The rule once the packaged copy's version was read (`newText`, null when it has none): reads
// the installed file's only where needed, and what it read goes into `versions` as above.
int DecideByVersions(const char* newText, const char* installedFile, char* versions,
                     std::size_t capacity);
