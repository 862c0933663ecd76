// SPDX-License-Identifier: MIT
// What the platform converts between UTF-8 and a Windows code page with: iconv
// (code_page_posix.cpp) or the Windows API (code_page_win32.cpp). Neither transliterates nor
// maps a character to a "best fit"; where their tables still differ, code_page.cpp evens them
// out, so both builds write the same bytes (tests/code_pages compares them).
#pragma once

#include <cstddef>
#include <string>

// The converter's name, for messages.
extern const char* const CONVERTER_NAME;

// 1 when the platform converts between `codePage` and UTF-8.
int CodePageConverts(int codePage);

// Converts one whole UTF-8 character (a Unicode scalar value) to `codePage`. Returns 1 with its
// bytes appended to `bytes`; 0 when the code page cannot hold it; -1 when it is not UTF-8.
int EncodeCharacter(const std::string& character, int codePage, std::string* bytes);

// Decodes the one character at the start of `bytes` (`size` of them, no control bytes) from
// `codePage` to UTF-8 appended to `out`, alone, as if nothing came before or after it. Returns
// how many bytes it took; 0 when it does not decode or is cut off.
std::size_t DecodeCharacter(const char* bytes, std::size_t size, int codePage, std::string* out);
