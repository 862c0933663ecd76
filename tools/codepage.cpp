#include "codepage.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>

namespace {

std::string IconvName(int codePage) {
    if (codePage == 65001) return "UTF-8";
    return "CP" + std::to_string(codePage);
}

// One iconv descriptor for the length of one conversion.
struct Converter {
    iconv_t handle;
    Converter(const std::string& to, const std::string& from)
        : handle(iconv_open(to.c_str(), from.c_str())) {}
    ~Converter() {
        if (ok()) iconv_close(handle);
    }
    bool ok() const { return handle != reinterpret_cast<iconv_t>(-1); }
};

// Length of the UTF-8 sequence that starts with `lead`; 0 for a byte that cannot start one.
std::size_t SequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

// Converts as much of [in, in + left) as iconv takes. Returns iconv's errno for the stop
// (0 when all of it converted) and moves `in`/`left` past what was converted.
int ConvertSome(iconv_t handle, const char** in, std::size_t* left, std::string* out) {
    char buffer[256];
    while (*left > 0) {
        char* input = const_cast<char*>(*in);
        char* output = buffer;
        std::size_t room = sizeof buffer;
        std::size_t result = iconv(handle, &input, left, &output, &room);
        *in = input;
        out->append(buffer, static_cast<std::size_t>(output - buffer));
        if (result == static_cast<std::size_t>(-1) && errno != E2BIG) return errno;
    }
    char* output = buffer;
    std::size_t room = sizeof buffer;
    iconv(handle, nullptr, nullptr, &output, &room);  // stateful encodings end their shift
    out->append(buffer, static_cast<std::size_t>(output - buffer));
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
    if (!ansi) return 0;
    Converter to(IconvName(codePage), "UTF-8");
    Converter from("UTF-8", IconvName(codePage));
    return to.ok() && from.ok();
}

int EncodeText(const std::string& text, int codePage, std::string* out, std::string* error) {
    out->clear();
    Converter converter(IconvName(codePage), "UTF-8");
    if (!converter.ok()) {
        *error = "code page " + std::to_string(codePage) + " is not known to iconv";
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
        const char* in = character.data();
        std::size_t left = character.size();
        std::string bytes;
        int stop = ConvertSome(converter.handle, &in, &left, &bytes);
        if (stop != 0) {
            *error = stop == EILSEQ && length > 1
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
    Converter converter("UTF-8", IconvName(codePage));
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
        std::size_t runLeft = run;
        int stop = converter.ok() ? ConvertSome(converter.handle, &in, &runLeft, &result) : EILSEQ;
        left -= run - runLeft;
        if (stop != 0 && runLeft > 0) {
            // Undecodable or cut-off byte: show it and go on after it.
            result += HexByte(static_cast<unsigned char>(*in));
            ++in;
            --left;
            if (converter.ok()) iconv(converter.handle, nullptr, nullptr, nullptr, nullptr);
        }
    }
    return result;
}
