// SPDX-License-Identifier: MIT
// Code pages through iconv, on Linux and other POSIX systems.
#include <iconv.h>

#include <cerrno>

#include "authoring/code_page_seam.h"

const char* const CONVERTER_NAME = "iconv";

namespace {

std::string IconvName(int codePage) {
    if (codePage == 65001) return "UTF-8";
    return "CP" + std::to_string(codePage);
}

// An iconv descriptor, kept per thread and direction across calls: a manifest converts
// thousands of names one character at a time.
struct Converter {
    iconv_t handle = reinterpret_cast<iconv_t>(-1);
    int codePage = 0;
    bool toCodePage = false;
    ~Converter() {
        if (ok()) iconv_close(handle);
    }
    bool ok() const { return handle != reinterpret_cast<iconv_t>(-1); }
    // Ready for `codePage` in the given direction, in its initial shift state.
    bool For(int page, bool to) {
        if (!ok() || codePage != page || toCodePage != to) {
            if (ok()) iconv_close(handle);
            handle = to ? iconv_open(IconvName(page).c_str(), "UTF-8")
                        : iconv_open("UTF-8", IconvName(page).c_str());
            codePage = page;
            toCodePage = to;
        }
        if (ok()) iconv(handle, nullptr, nullptr, nullptr, nullptr);
        return ok();
    }
};

thread_local Converter g_converter;

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

}  // namespace

int CodePageConverts(int codePage) {
    return g_converter.For(codePage, true) && g_converter.For(codePage, false);
}

int EncodeCharacter(const std::string& character, int codePage, std::string* bytes) {
    if (!g_converter.For(codePage, true)) return 0;
    const char* in = character.data();
    std::size_t left = character.size();
    std::string converted;
    int stop = ConvertSome(g_converter.handle, &in, &left, &converted);
    if (stop != 0) return stop == EILSEQ ? 0 : -1;
    *bytes += converted;
    return 1;
}

std::size_t DecodeCharacter(const char* bytes, std::size_t size, int codePage, std::string* out) {
    // A byte more at a time until iconv has a whole character: each on its own, so that no
    // stateful decoder (1255, 1258) composes it with the next one or holds it back.
    for (std::size_t length = 1; length <= size && length <= 4; ++length) {
        if (!g_converter.For(codePage, false)) return 0;
        const char* in = bytes;
        std::size_t left = length;
        std::string character;
        int stop = ConvertSome(g_converter.handle, &in, &left, &character);
        if (stop == 0) {
            *out += character;
            return length;
        }
        if (stop != EINVAL) return 0;
    }
    return 0;
}
