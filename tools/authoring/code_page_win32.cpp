// PLACEHOLDER, to be replaced by the real code_page_win32.cpp at merge: just enough to build.
#include <windows.h>

#include "authoring/code_page_seam.h"

const char* const CONVERTER_NAME = "the Windows API";

namespace {

std::wstring Wide(const char* text, int size, UINT codePage, DWORD flags) {
    int length = MultiByteToWideChar(codePage, flags, text, size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) MultiByteToWideChar(codePage, flags, text, size, &wide[0], length);
    return wide;
}

}  // namespace

int CodePageConverts(int codePage) {
    CPINFO info;
    return codePage == 65001 || GetCPInfo(static_cast<UINT>(codePage), &info) ? 1 : 0;
}

int EncodeCharacter(const std::string& character, int codePage, std::string* bytes) {
    std::wstring wide =
        Wide(character.data(), static_cast<int>(character.size()), CP_UTF8, MB_ERR_INVALID_CHARS);
    if (wide.empty()) return -1;
    if (codePage == 65001) {
        *bytes += character;
        return 1;
    }
    char out[16];
    BOOL defaulted = FALSE;
    int length =
        WideCharToMultiByte(static_cast<UINT>(codePage), WC_NO_BEST_FIT_CHARS, wide.data(),
                            static_cast<int>(wide.size()), out, sizeof out, nullptr, &defaulted);
    if (length <= 0 || defaulted) return 0;
    bytes->append(out, static_cast<std::size_t>(length));
    return 1;
}

std::size_t DecodeSome(const char* bytes, std::size_t size, int codePage, std::string* out) {
    std::wstring wide =
        Wide(bytes, static_cast<int>(size), static_cast<UINT>(codePage), MB_ERR_INVALID_CHARS);
    if (wide.empty()) return 0;
    int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                     nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &utf8[0], length,
                        nullptr, nullptr);
    *out += utf8;
    return size;
}
