// SPDX-License-Identifier: MIT
// Lays out the UTF-16 texts beside the package: tidepack's back end and the tests' source.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "package/unicode_texts.h"

struct WriterUnicodeText {
    UnicodeTextKind kind;
    std::uint16_t index = 0;
    std::uint16_t language = 0;
    std::u16string text;
};

// The resource's bytes in `out`, the records in the order given. Returns 1; 0 with a message in
// `error` when there are more than UNICODE_TEXTS_MAX_COUNT texts, or a text is longer than
// UNICODE_TEXT_MAX_UNITS or holds a NUL.
int BuildUnicodeTexts(const std::vector<WriterUnicodeText>& texts, std::vector<unsigned char>* out,
                      std::string* error);
