// SPDX-License-Identifier: MIT
#include "package/unicode_texts_writer.h"

#include <cstring>

namespace {

void Put(std::vector<unsigned char>* out, std::size_t at, const void* data, std::size_t size) {
    std::memcpy(out->data() + at, data, size);
}

}  // namespace

int BuildUnicodeTexts(const std::vector<WriterUnicodeText>& texts, std::vector<unsigned char>* out,
                      std::string* error) {
    if (texts.size() > UNICODE_TEXTS_MAX_COUNT) {
        *error = "more than " + std::to_string(UNICODE_TEXTS_MAX_COUNT) + " texts";
        return 0;
    }
    std::size_t at = UNICODE_TEXTS_HEADER_SIZE + UNICODE_TEXT_RECORD_SIZE * texts.size();
    std::vector<unsigned char> bytes(at);
    UnicodeTextsHeader header = {UNICODE_TEXTS_MAGIC, UNICODE_TEXTS_FORMAT_VERSION,
                                 static_cast<std::uint32_t>(texts.size()), 0};
    Put(&bytes, 0, &header, sizeof header);
    for (std::size_t k = 0; k < texts.size(); ++k) {
        const std::u16string& text = texts[k].text;
        if (text.size() > UNICODE_TEXT_MAX_UNITS || text.find(u'\0') != std::u16string::npos) {
            *error = "a text of " + std::to_string(text.size()) +
                     " UTF-16 characters holds a NUL or passes the " +
                     std::to_string(UNICODE_TEXT_MAX_UNITS) + " that fit";
            return 0;
        }
        UnicodeTextRecord record = {texts[k].kind,
                                    texts[k].index,
                                    texts[k].language,
                                    0,
                                    static_cast<std::uint32_t>(bytes.size()),
                                    static_cast<std::uint32_t>(text.size())};
        Put(&bytes, UNICODE_TEXTS_HEADER_SIZE + UNICODE_TEXT_RECORD_SIZE * k, &record,
            sizeof record);
        for (char16_t unit : text) {
            bytes.push_back(static_cast<unsigned char>(unit));
            bytes.push_back(static_cast<unsigned char>(unit >> 8));
        }
    }
    *out = std::move(bytes);
    return 1;
}
