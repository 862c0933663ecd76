// SPDX-License-Identifier: MIT
// Texts between UTF-8 (manifests, the terminal) and the ANSI code page of the target machines,
// through the platform's converter (iconv, or Windows' own), with the same bytes on both. Nothing
// is transliterated: a character the code page cannot hold is an error.
#pragma once

#include <string>

// 1 when `codePage` is a Windows ANSI code page (874, 932, 936, 949, 950, 1250 to 1258) and
// the platform can convert between it and UTF-8.
int CodePageKnown(int codePage);

// Converts UTF-8 `text` to `codePage`. Returns 1 with the bytes in `out`. Returns 0 with a
// message in `error` naming the first character the code page cannot hold (or the first byte
// that is not UTF-8).
int EncodeText(const std::string& text, int codePage, std::string* out, std::string* error);

// Decodes code-page bytes to UTF-8 for display. A byte that does not decode, and every control
// byte, is shown as \xNN, so a damaged text never reaches the terminal raw.
std::string DecodeText(const std::string& bytes, int codePage);
