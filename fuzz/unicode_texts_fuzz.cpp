// SPDX-License-Identifier: MIT
// The UTF-16 texts beside the package over an arbitrary byte image, as the program reads them:
// no read leaves the image, no copy passes its buffer, and every text copied is terminated and
// holds no NUL before its end.
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <vector>

#include "package/unicode_texts.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 0xFFFFFFFFu) return 0;
    // Exactly `size` bytes, so that ASan sees every read past the end.
    std::vector<unsigned char> bytes(data, data + size);
    UnicodeTextsImage image{bytes.data(), static_cast<std::uint32_t>(size)};
    const UnicodeTextsHeader* header;
    std::uint32_t count = GetUnicodeTextsHeader(image, &header) ? header->textCount : 0;
    for (std::uint32_t k = 0; k < count + 1; ++k) {
        UnicodeTextRecord record;
        if (!GetUnicodeTextRecord(image, k, &record)) continue;
        // As the dialog asks: its 512-character buffer, and a buffer as small as 1.
        for (std::size_t capacity : {std::size_t{512}, std::size_t{1}}) {
            std::vector<wchar_t> dest(capacity, L'?');
            if (!CopyUnicodeText(image, static_cast<UnicodeTextKind>(record.kind), record.index,
                                 record.language, dest.data(), capacity))
                continue;
            std::size_t length = std::wcslen(dest.data());
            if (length >= capacity) std::abort();
        }
    }
    return 0;
}
