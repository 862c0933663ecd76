// SPDX-License-Identifier: MIT
#include "system/report.h"

#include <cstdarg>
#include <cstdio>

namespace {

std::string Format(const char* format, std::va_list arguments) {
    std::va_list again;
    va_copy(again, arguments);
    int size = std::vsnprintf(nullptr, 0, format, arguments);
    std::string text(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
    if (size > 0) std::vsnprintf(&text[0], text.size() + 1, format, again);
    va_end(again);
    return text;
}

}  // namespace

void Report::Out(const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    std::string text = Format(format, arguments);
    va_end(arguments);
    Say(ToOut, std::move(text));
}

void Report::Err(const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    std::string text = Format(format, arguments);
    va_end(arguments);
    Say(ToErr, std::move(text));
}

void Report::Say(Stream stream, std::string text) {
    if (heard)
        heard(stream, text);
    else
        lines.push_back({stream, std::move(text)});
}
