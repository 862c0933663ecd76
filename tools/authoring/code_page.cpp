// SPDX-License-Identifier: MIT
#include "authoring/code_page.h"

#include <cstdio>

#include "authoring/code_page_seam.h"

namespace {

// Length of the UTF-8 sequence that starts with `lead`; 0 for a byte that cannot start one.
std::size_t SequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

std::string HexByte(unsigned char byte) {
    char text[8];
    std::snprintf(text, sizeof text, "\\x%02X", byte);
    return text;
}

// The scalar value of the UTF-8 sequence `bytes`, `length` long (as SequenceLength gives it);
// -1 when it is not one: a byte that does not continue it, an overlong form, a surrogate or
// past U+10FFFF.
long ScalarValue(const unsigned char* bytes, std::size_t length) {
    static const long LEAST[] = {0, 0, 0x80, 0x800, 0x10000};
    long point = length == 1 ? bytes[0] : bytes[0] & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((bytes[i] & 0xC0) != 0x80) return -1;
        point = point << 6 | (bytes[i] & 0x3F);
    }
    if (point < LEAST[length] || (point >= 0xD800 && point <= 0xDFFF) || point > 0x10FFFF)
        return -1;
    return point;
}

std::string CodePoint(long point) {
    char text[24];
    std::snprintf(text, sizeof text, "U+%04lX", point);
    return text;
}

// Where iconv's tables and Windows' differ, whatever neither has a clear right answer for is
// refused on both, so a package is the same wherever it is built. (iconv's tables are glibc's;
// Windows' are Microsoft's published ones, which Wine follows; Windows versions add to them.)
struct Range {
    int codePage;  // 0: every code page but UTF-8
    long first;
    long last;
};
const Range REFUSED[] = {
    // C1 controls: Windows maps the bytes a table leaves empty to them one to one, iconv does
    // not; a title or a name never carries one.
    {0, 0x80, 0x9F},
    // Private use: Windows gives it the user-defined areas (end-user characters) and, in some
    // versions, more (932's 0xA0 and 0xFD-0xFF); their glyphs are whatever each machine's font
    // says.
    {0, 0xE000, 0xF8FF},
    // Added by newer Windows tables, lacking in iconv's and Wine's: holam haser for vav (0xCA),
    // the Korean postal mark (0xA2E8).
    {1255, 0x05BA, 0x05BA},
    {949, 0x327E, 0x327E},
};
// Held alike by both, at the same bytes.
const Range KEPT[] = {
    {932, 0xE000, 0xE757},  // 0xF040-0xF9FC
    {950, 0x80, 0x80},
    {950, 0xF6B1, 0xF848},  // 0xC6A1-0xC8FE
};

int InRanges(const Range* ranges, std::size_t count, int codePage, long point) {
    for (std::size_t i = 0; i < count; ++i)
        if ((ranges[i].codePage == codePage || (ranges[i].codePage == 0 && codePage != 65001)) &&
            point >= ranges[i].first && point <= ranges[i].last)
            return 1;
    return 0;
}

int Refused(int codePage, long point) {
    return InRanges(REFUSED, sizeof REFUSED / sizeof REFUSED[0], codePage, point) &&
           !InRanges(KEPT, sizeof KEPT / sizeof KEPT[0], codePage, point);
}

// Where both hold a character at different bytes that both read back as it, iconv's: Big5's own
// box-drawing characters, which Windows' table also has in the ETEN row (0xF9F9...) and writes
// there.
struct Preferred {
    int codePage;
    long point;
    const char* bytes;
};
const Preferred PREFERRED[] = {
    {950, 0x2550, "\xA2\xA4"},
    {950, 0x255E, "\xA2\xA5"},
    {950, 0x2561, "\xA2\xA7"},
    {950, 0x256A, "\xA2\xA6"},
};

// EncodeCharacter for a scalar value, evened out between the platforms: a character is held
// only when its bytes decode back to it alone, which refuses iconv's one-way mappings (932's
// U+301C WAVE DASH to the bytes Windows reads as U+FF5E), its decomposing ones (1258's U+1EA0
// to A and a combining dot) and the tags it drops without a word.
int Held(const std::string& character, long point, int codePage, std::string* bytes) {
    if (Refused(codePage, point)) return 0;
    for (const Preferred& preferred : PREFERRED)
        if (preferred.codePage == codePage && preferred.point == point) {
            *bytes += preferred.bytes;
            return 1;
        }
    std::string converted;
    int held = EncodeCharacter(character, codePage, &converted);
    if (held != 1) return held;
    std::string back;
    if (converted.empty() ||
        DecodeCharacter(converted.data(), converted.size(), codePage, &back) != converted.size() ||
        back != character)
        return 0;
    *bytes += converted;
    return 1;
}

// 1 when `text`, decoded from `codePage`, is characters that code page holds, and no control
// (C1 ones included: some terminals take U+009B for an escape).
int Shown(const std::string& text, int codePage) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t i = 0; i < text.size();) {
        std::size_t length = SequenceLength(bytes[i]);
        long point = length && i + length <= text.size() ? ScalarValue(bytes + i, length) : -1;
        if (point < 0x20 || (point >= 0x7F && point <= 0x9F) || Refused(codePage, point)) return 0;
        i += length;
    }
    return !text.empty();
}

}  // namespace

int CodePageKnown(int codePage) {
    // Only a Windows ANSI code page can be a target machine's, and only these are ASCII with
    // the lead bytes IsLeadByteOf knows.
    bool ansi = codePage == 874 || codePage == 932 || codePage == 936 || codePage == 949 ||
                codePage == 950 || (codePage >= 1250 && codePage <= 1258);
    return ansi && CodePageConverts(codePage);
}

int EncodeText(const std::string& text, int codePage, std::string* out, std::string* error) {
    out->clear();
    if (!CodePageConverts(codePage)) {
        *error = "code page " + std::to_string(codePage) + " is not known to " + CONVERTER_NAME;
        return 0;
    }
    // One character at a time, so the one that fails can be named.
    std::size_t position = 0;
    while (position < text.size()) {
        unsigned char lead = static_cast<unsigned char>(text[position]);
        std::size_t length = SequenceLength(lead);
        if (length == 0 || position + length > text.size()) {
            *error = "byte " + HexByte(lead) + " is not UTF-8";
            return 0;
        }
        long point = ScalarValue(reinterpret_cast<const unsigned char*>(&text[position]), length);
        if (point < 0) {
            *error = "text is not valid UTF-8 near byte " + std::to_string(position);
            return 0;
        }
        std::string character = text.substr(position, length);
        std::string bytes;
        int held = Held(character, point, codePage, &bytes);
        if (held != 1) {
            *error = held == 0 && length > 1
                         ? "character '" + character + "' (" + CodePoint(point) +
                               ") cannot be written in code page " + std::to_string(codePage)
                         : "text is not valid UTF-8 near byte " + std::to_string(position);
            // Japanese and Korean Windows show the backslash as these signs: what was meant.
            if (held == 0 && (point == 0xA5 || point == 0x20A9))
                *error +=
                    "; in a Windows path it is written \\ (which Windows in Japanese "
                    "or Korean shows as " +
                    character + ")";
            out->clear();
            return 0;
        }
        *out += bytes;
        position += length;
    }
    return 1;
}

std::string DecodeText(const std::string& bytes, int codePage) {
    std::string result;
    bool known = CodePageConverts(codePage);
    const char* in = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        unsigned char byte = static_cast<unsigned char>(*in);
        if (byte < 0x20 || byte == 0x7F) {
            result += HexByte(byte);
            ++in;
            --left;
            continue;
        }
        // Up to the next control byte, so those are always escaped.
        std::size_t run = 0;
        while (run < left && run < 4 && static_cast<unsigned char>(in[run]) >= 0x20 &&
               static_cast<unsigned char>(in[run]) != 0x7F)
            ++run;
        std::string character;
        std::size_t taken = known ? DecodeCharacter(in, run, codePage, &character) : 0;
        if (taken > 0 && Shown(character, codePage)) {
            result += character;
        } else {
            // Undecodable or cut-off byte, or a character refused above: show it and go on
            // after it.
            result += HexByte(byte);
            taken = 1;
        }
        in += taken;
        left -= taken;
    }
    return result;
}
