// SPDX-License-Identifier: MIT
// The version rule for a packaged copy that exists only in memory: its version read from the
// program's bytes, where no file of it could be made for Windows to read.
#pragma once

#include <cstddef>
#include <cstdint>

// Reads the ProductVersion text of the PE image `image` (`size` bytes, untrusted: every offset
// is checked against them) as ReadProductVersion reads a file's: the version resource (id 1)
// of the resource language Windows would pick (neutral, `language`, US English, else the
// first), the text under the first translation pair, in the system's ANSI code page. Returns 1
// with the text in `versionText` (VERSION_TEXT_SIZE bytes); 0 when there is none, or it does
// not fit.
int ReadImageProductVersion(const unsigned char* image, std::uint32_t size, std::uint32_t language,
                            char* versionText);

// IsNewerOrSameWithVersions with the packaged copy given by its bytes instead of a file
// (`versions` may be null).
int IsNewerOrSameImage(const unsigned char* image, std::uint32_t size, const char* installedFile,
                       char* versions, std::size_t capacity);
