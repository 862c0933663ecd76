// SPDX-License-Identifier: MIT
#include <windows.h>

#include "package/package.h"
#include "package/unicode_texts.h"

int LoadUnicodeText(void* module, UnicodeTextKind kind, std::uint16_t index, std::uint16_t language,
                    wchar_t* dest, std::size_t capacity) {
    HMODULE self = static_cast<HMODULE>(module);
    HRSRC found =
        FindResourceExA(self, MAKEINTRESOURCEA(PACKAGE_RESOURCE_TYPE),
                        MAKEINTRESOURCEA(UNICODE_TEXTS_RESOURCE_ID), PACKAGE_RESOURCE_LANGUAGE);
    if (!found) return 0;
    HGLOBAL loaded = LoadResource(self, found);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data) return 0;
    // A module's resources stay mapped while it is loaded: nothing to free.
    UnicodeTextsImage image{static_cast<const unsigned char*>(data),
                            static_cast<std::uint32_t>(SizeofResource(self, found))};
    return CopyUnicodeText(image, kind, index, language, dest, capacity);
}
