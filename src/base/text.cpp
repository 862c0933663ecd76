// SPDX-License-Identifier: MIT
#include "base/text.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

int TextCopy(char* dest, std::size_t capacity, const char* source) {
    if (capacity == 0) return 0;
    std::size_t length = std::strlen(source);
    if (length >= capacity) {
        dest[0] = '\0';
        return 0;
    }
    std::memmove(dest, source, length + 1);
    return 1;
}

int TextAppend(char* dest, std::size_t capacity, const char* source) {
    std::size_t used = TextLength(dest, capacity);
    if (used >= capacity) return 0;
    std::size_t length = std::strlen(source);
    if (length >= capacity - used) return 0;
    std::memmove(dest + used, source, length + 1);
    return 1;
}

int TextFormat(char* dest, std::size_t capacity, const char* format, ...) {
    if (capacity == 0) return 0;
    va_list args;
    va_start(args, format);
#ifdef _WIN32
    // Windows' own formatter rather than MinGW's 16 KB one: only %s and %X are used, and its
    // other answer to a result that does not fit (-1, or no terminator) is refused below too.
    int written = _vsnprintf(dest, capacity, format, args);
#else
    int written = std::vsnprintf(dest, capacity, format, args);
#endif
    va_end(args);
    if (written < 0 || static_cast<std::size_t>(written) >= capacity) {
        dest[0] = '\0';
        return 0;
    }
    return 1;
}

std::size_t TextLength(const char* text, std::size_t limit) {
    const void* end = std::memchr(text, '\0', limit);
    return end ? static_cast<std::size_t>(static_cast<const char*>(end) - text) : limit;
}

static unsigned char FoldAscii(unsigned char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

int BeginsWithName(const char* text, const char* name) {
    for (std::size_t i = 0; name[i] != '\0'; ++i) {
        // The text's terminator differs from every byte of the name, so a shorter text stops here.
        if (FoldAscii(static_cast<unsigned char>(text[i])) !=
            FoldAscii(static_cast<unsigned char>(name[i])))
            return 0;
    }
    return 1;
}
