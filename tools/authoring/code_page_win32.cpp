// SPDX-License-Identifier: MIT
// Code pages through the Windows API, as the machines the packages are for convert them.
#include <windows.h>

#include "authoring/code_page_seam.h"

const char* const CONVERTER_NAME = "Windows";

namespace {

// UTF-8 to UTF-16; 0 when `bytes` are not UTF-8.
int Widen(const char* bytes, int size, std::wstring* wide) {
    wchar_t buffer[8];
    int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, size, buffer, 8);
    if (length <= 0) return 0;
    wide->assign(buffer, static_cast<std::size_t>(length));
    return 1;
}

// How long the character at `bytes` is in `codePage` by its first byte, as far as `size`
// allows.
std::size_t CharacterLength(const char* bytes, std::size_t size, int codePage) {
    unsigned char lead = static_cast<unsigned char>(bytes[0]);
    std::size_t length = 1;
    if (codePage == CP_UTF8) {
        if (lead >= 0xC0) length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    } else if (IsDBCSLeadByteEx(static_cast<UINT>(codePage), lead)) {
        length = 2;
    }
    return length < size ? length : size;
}

}  // namespace

int CodePageConverts(int codePage) {
    return codePage > 0 && IsValidCodePage(static_cast<UINT>(codePage));
}

int EncodeCharacter(const std::string& character, int codePage, std::string* bytes) {
    std::wstring wide;
    if (character.size() > 4 || !Widen(character.data(), static_cast<int>(character.size()), &wide))
        return -1;
    if (codePage == CP_UTF8) {
        *bytes += character;
        return 1;
    }
    // Without best fit, and checked for the default character, so nothing stands in for a
    // character the code page lacks.
    char buffer[8];
    BOOL usedDefault = FALSE;
    int length = WideCharToMultiByte(static_cast<UINT>(codePage), WC_NO_BEST_FIT_CHARS, wide.data(),
                                     static_cast<int>(wide.size()), buffer, sizeof buffer, nullptr,
                                     &usedDefault);
    if (length <= 0 || usedDefault) return 0;
    bytes->append(buffer, static_cast<std::size_t>(length));
    return 1;
}

std::size_t DecodeCharacter(const char* bytes, std::size_t size, int codePage, std::string* out) {
    if (size == 0 || !CodePageConverts(codePage)) return 0;
    std::size_t length = CharacterLength(bytes, size, codePage);
    wchar_t wide[4];
    int wideLength = MultiByteToWideChar(static_cast<UINT>(codePage), MB_ERR_INVALID_CHARS, bytes,
                                         static_cast<int>(length), wide, 4);
    if (wideLength <= 0) return 0;
    char utf8[16];
    int utf8Length =
        WideCharToMultiByte(CP_UTF8, 0, wide, wideLength, utf8, sizeof utf8, nullptr, nullptr);
    if (utf8Length <= 0) return 0;
    out->append(utf8, static_cast<std::size_t>(utf8Length));
    return length;
}
