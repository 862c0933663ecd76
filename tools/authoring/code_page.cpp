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

std::string CodePoint(const std::string& utf8) {
    unsigned long point = 0;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
    std::size_t length = utf8.size();
    if (length == 1) point = bytes[0];
    if (length == 2) point = (bytes[0] & 0x1Fu) << 6 | (bytes[1] & 0x3Fu);
    if (length == 3)
        point = (bytes[0] & 0x0Fu) << 12 | (bytes[1] & 0x3Fu) << 6 | (bytes[2] & 0x3Fu);
    if (length == 4)
        point = (bytes[0] & 0x07u) << 18 | (bytes[1] & 0x3Fu) << 12 | (bytes[2] & 0x3Fu) << 6 |
                (bytes[3] & 0x3Fu);
    char text[16];
    std::snprintf(text, sizeof text, "U+%04lX", point);
    return text;
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
        std::string character = text.substr(position, length);
        std::string bytes;
        int held = EncodeCharacter(character, codePage, &bytes);
        if (held != 1) {
            *error = held == 0 && length > 1
                         ? "character '" + character + "' (" + CodePoint(character) +
                               ") cannot be written in code page " + std::to_string(codePage)
                         : "text is not valid UTF-8 near byte " + std::to_string(position);
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
        while (run < left && static_cast<unsigned char>(in[run]) >= 0x20 &&
               static_cast<unsigned char>(in[run]) != 0x7F)
            ++run;
        std::size_t taken = known ? DecodeSome(in, run, codePage, &result) : 0;
        in += taken;
        left -= taken;
        if (taken < run) {
            // Undecodable or cut-off byte: show it and go on after it.
            result += HexByte(static_cast<unsigned char>(*in));
            ++in;
            --left;
        }
    }
    return result;
}
