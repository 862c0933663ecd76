// SPDX-License-Identifier: MIT
#include "package/unicode_texts.h"

#include <cstring>

namespace {

// [offset, offset + length) lies inside the image; in 64 bits so that no sum wraps.
bool InImage(const UnicodeTextsImage& image, std::uint64_t offset, std::uint64_t length) {
    return image.data != nullptr && offset <= image.size && length <= image.size - offset;
}

std::uint16_t Unit(const unsigned char* at) {
    return static_cast<std::uint16_t>(at[0] | at[1] << 8);
}

}  // namespace

int GetUnicodeTextsHeader(const UnicodeTextsImage& image, const UnicodeTextsHeader** header) {
    if (!InImage(image, 0, UNICODE_TEXTS_HEADER_SIZE)) return 0;
    const UnicodeTextsHeader* read = reinterpret_cast<const UnicodeTextsHeader*>(image.data);
    if (read->magic != UNICODE_TEXTS_MAGIC || read->formatVersion != UNICODE_TEXTS_FORMAT_VERSION ||
        read->textCount > UNICODE_TEXTS_MAX_COUNT ||
        !InImage(image, UNICODE_TEXTS_HEADER_SIZE,
                 static_cast<std::uint64_t>(UNICODE_TEXT_RECORD_SIZE) * read->textCount))
        return 0;
    *header = read;
    return 1;
}

int GetUnicodeTextRecord(const UnicodeTextsImage& image, std::uint32_t index,
                         UnicodeTextRecord* record) {
    const UnicodeTextsHeader* header;
    if (!GetUnicodeTextsHeader(image, &header) || index >= header->textCount) return 0;
    UnicodeTextRecord read;
    std::memcpy(&read, image.data + UNICODE_TEXTS_HEADER_SIZE + UNICODE_TEXT_RECORD_SIZE * index,
                sizeof read);
    if (read.offset % 2 != 0 || read.length > UNICODE_TEXT_MAX_UNITS ||
        !InImage(image, read.offset, static_cast<std::uint64_t>(read.length) * 2))
        return 0;
    for (std::uint32_t u = 0; u < read.length; ++u)
        if (Unit(image.data + read.offset + 2 * u) == 0) return 0;
    *record = read;
    return 1;
}

int CopyUnicodeText(const UnicodeTextsImage& image, UnicodeTextKind kind, std::uint16_t index,
                    std::uint16_t language, wchar_t* dest, std::size_t capacity) {
    const UnicodeTextsHeader* header;
    if (!GetUnicodeTextsHeader(image, &header)) return 0;
    for (std::uint32_t k = 0; k < header->textCount; ++k) {
        UnicodeTextRecord record;
        std::memcpy(&record, image.data + UNICODE_TEXTS_HEADER_SIZE + UNICODE_TEXT_RECORD_SIZE * k,
                    sizeof record);
        if (record.kind != kind || record.index != index || record.language != language) continue;
        if (!GetUnicodeTextRecord(image, k, &record) || record.length >= capacity) return 0;
        const unsigned char* units = image.data + record.offset;
        for (std::uint32_t u = 0; u < record.length; ++u) dest[u] = Unit(units + 2 * u);
        dest[record.length] = L'\0';
        return 1;
    }
    return 0;
}
