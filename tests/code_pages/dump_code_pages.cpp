// SPDX-License-Identifier: MIT
// Writes how tidepack converts texts on this platform, so that iconv's and Windows' results can
// be compared: per code page, every character it can hold (every scalar value of the BMP and a
// sample beyond) with its bytes, how every single byte decodes, and every pair of bytes that
// decodes otherwise than its two bytes apart. Lines left out say "cannot hold" or "decodes as
// its bytes do", so the same table on both sides means the same results everywhere.
#include <cstdio>
#include <string>

#include "authoring/code_page.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

const int CODE_PAGES[] = {874,  932,  936,  949,  950,  1250, 1251, 1252,
                          1253, 1254, 1255, 1256, 1257, 1258, 65001};

// Beyond the BMP: the first, emoji, the CJK extensions' ends, tags, the last.
const unsigned long SUPPLEMENTARY[] = {0x10000, 0x1D11E, 0x1F600, 0x20000, 0x20B9F,
                                       0x2A6D6, 0x2F800, 0xE0041, 0xF0000, 0x10FFFF};

// Not UTF-8: an overlong slash, a surrogate, past U+10FFFF, a lone continuation, cut off.
const char* const NOT_UTF8[] = {"\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\x80", "\xE3\x81"};

std::string Utf8(unsigned long point) {
    if (point < 0x80) return std::string(1, static_cast<char>(point));
    int continuations = point < 0x800 ? 1 : point < 0x10000 ? 2 : 3;
    std::string out(1, static_cast<char>(0xF0 << (3 - continuations) | point >> 6 * continuations));
    for (int shift = 6 * (continuations - 1); shift >= 0; shift -= 6)
        out += static_cast<char>(0x80 | (point >> shift & 0x3F));
    return out;
}

std::string Hex(const std::string& bytes) {
    std::string out;
    char two[4];
    for (unsigned char byte : bytes) {
        std::snprintf(two, sizeof two, "%02X", byte);
        out += two;
    }
    return out;
}

// Characters and byte sequences each code page's block tries.
const int CHARACTERS_TRIED = 0x10000 - 0x800 + sizeof SUPPLEMENTARY / sizeof SUPPLEMENTARY[0];
const int SEQUENCES_TRIED = 256 + 256 * 256;

void Encode(unsigned long point, int codePage, std::FILE* out) {
    std::string bytes, error;
    if (EncodeText(Utf8(point), codePage, &bytes, &error))
        std::fprintf(out, "E %04lX %s\n", point, Hex(bytes).c_str());
}

void Dump(int codePage, std::FILE* out) {
    std::fprintf(out, "# %d %d %d\n", codePage, CHARACTERS_TRIED, SEQUENCES_TRIED);
    for (unsigned long point = 0; point < 0x10000; ++point)
        if (point < 0xD800 || point > 0xDFFF) Encode(point, codePage, out);
    for (unsigned long point : SUPPLEMENTARY) Encode(point, codePage, out);
    for (const char* text : NOT_UTF8) {
        std::string bytes, error;
        int ok = EncodeText(text, codePage, &bytes, &error);
        std::fprintf(out, "X %s %d %s\n", Hex(text).c_str(), ok, error.c_str());
    }
    std::string single[256];
    for (int byte = 0; byte < 256; ++byte) {
        single[byte] = DecodeText(std::string(1, static_cast<char>(byte)), codePage);
        std::fprintf(out, "D %02X %s\n", byte, single[byte].c_str());
    }
    for (int first = 0; first < 256; ++first) {
        for (int second = 0; second < 256; ++second) {
            std::string pair{static_cast<char>(first), static_cast<char>(second)};
            std::string text = DecodeText(pair, codePage);
            if (text != single[first] + single[second])
                std::fprintf(out, "D %02X%02X %s\n", first, second, text.c_str());
        }
    }
}

}  // namespace

int main() {
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);  // the table's lines end in LF on both sides
#endif
    for (int codePage : CODE_PAGES) {
        if (codePage != 65001 && !CodePageKnown(codePage)) {
            std::fprintf(stdout, "# %d unknown\n", codePage);
            continue;
        }
        Dump(codePage, stdout);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
