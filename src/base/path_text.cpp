// SPDX-License-Identifier: MIT
// Kept apart from text.cpp: only what splits paths needs the code page, so only programs that
// do link a stand-in for it.
#include <cstring>

#include "base/code_page.h"
#include "base/text.h"

namespace {

// The character after the one at `text`. A lead byte followed by the terminator stands alone,
// as Windows reads it.
const char* NextCharacter(const char* text) {
    if (IsAnsiLeadByte(static_cast<unsigned char>(*text)) && text[1] != '\0') return text + 2;
    return text + 1;
}

}  // namespace

int IsLeadByteOf(unsigned codePage, unsigned char byte) {
    switch (codePage) {
        case 932:  // Shift JIS: the single-byte katakana 0xA1-0xDF lie between the two ranges
            return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
        case 936:
        case 949:
        case 950:
            return byte >= 0x81 && byte <= 0xFE;
        default:
            return 0;
    }
}

const char* FindBackslash(const char* text) {
    for (; *text != '\0'; text = NextCharacter(text))
        if (*text == '\\') return text;
    return nullptr;
}

const char* FindLastBackslash(const char* text) {
    const char* last = nullptr;
    // A backslash is one byte, so the byte after it always begins a character.
    for (const char* found = FindBackslash(text); found; found = FindBackslash(found + 1))
        last = found;
    return last;
}

void DropTrailingBackslash(char* text) {
    char* last = const_cast<char*>(FindLastBackslash(text));
    if (last && last[1] == '\0') *last = '\0';
}

int FolderOfFile(const char* path, char* folder) {
    folder[0] = '\0';
    const char* last = FindLastBackslash(path);
    if (!last) return 0;
    std::size_t length = static_cast<std::size_t>(last - path);
    if (length == 2 && path[1] == ':') ++length;
    if (length >= PATH_TEXT_SIZE) return 0;
    std::memcpy(folder, path, length);
    folder[length] = '\0';
    return 1;
}

int ReplaceFolderAtStart(const char* path, const char* from, const char* to, char* out) {
    std::size_t length = std::strlen(from);
    if (length > 0 && BeginsWithName(path, from) && (path[length] == '\0' || path[length] == '\\'))
        return TextFormat(out, PATH_TEXT_SIZE, "%s%s", to, path + length);
    return TextCopy(out, PATH_TEXT_SIZE, path);
}

int IsDeviceName(const char* begin, const char* end) {
    const char* stem = begin;
    while (stem < end && *stem != '.') ++stem;
    while (stem > begin && stem[-1] == ' ') --stem;
    std::size_t length = static_cast<std::size_t>(stem - begin);
    if (length < 3 || length > 4) return 0;
    char upper[4];
    for (std::size_t i = 0; i < length; ++i)
        upper[i] = begin[i] >= 'a' && begin[i] <= 'z' ? static_cast<char>(begin[i] - 32) : begin[i];
    auto is = [&upper](const char* name) { return std::memcmp(upper, name, 3) == 0; };
    if (length == 3) return is("CON") || is("PRN") || is("AUX") || is("NUL");
    return (is("COM") || is("LPT")) && upper[3] >= '1' && upper[3] <= '9';
}
