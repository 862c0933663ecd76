// SPDX-License-Identifier: MIT
#include <cwchar>

#include "base/registry.h"

namespace {

// Environment names are compared as Windows compares them; only ASCII ones matter here.
int SameName(const wchar_t* name, const wchar_t* other) {
    for (; *name && *other; ++name, ++other) {
        wchar_t a = *name >= L'A' && *name <= L'Z' ? *name + 32 : *name;
        wchar_t b = *other >= L'A' && *other <= L'Z' ? *other + 32 : *other;
        if (a != b) return 0;
    }
    return *name == *other;
}

// What a 32-bit process under WOW64 reads for what a 64-bit process reads.
constexpr const wchar_t* NATIVE_NAMES[][2] = {
    {L"ProgramFiles", L"ProgramW6432"},
    {L"CommonProgramFiles", L"CommonProgramW6432"},
};

// The variable a 64-bit process reads for `name`, where it differs and exists here.
const wchar_t* NativeName(const wchar_t* name, int (*isDefined)(const wchar_t* name)) {
    for (const auto& pair : NATIVE_NAMES)
        if (SameName(name, pair[0]) && isDefined(pair[1])) return pair[1];
    return name;
}

}  // namespace

int NativeViewReferences(const wchar_t* value, int (*isDefined)(const wchar_t* name), wchar_t* out,
                         std::size_t capacity) {
    std::size_t used = 0;
    auto put = [&](const wchar_t* part, std::size_t length) {
        if (length >= capacity - used) return 0;
        std::wmemcpy(out + used, part, length);
        used += length;
        return 1;
    };
    if (capacity == 0) return 0;
    const wchar_t* p = value;
    while (*p) {
        const wchar_t* close = nullptr;
        if (*p == L'%')
            for (const wchar_t* q = p + 1; *q && !close; ++q)
                if (*q == L'%') close = q;
        wchar_t name[128];
        std::size_t length = close ? static_cast<std::size_t>(close - p - 1) : 0;
        int ok;
        if (close && length > 0 && length < sizeof name / sizeof name[0] &&
            (std::wmemcpy(name, p + 1, length), name[length] = L'\0', isDefined(name))) {
            const wchar_t* native = NativeName(name, isDefined);
            ok = put(L"%", 1) && put(native, std::wcslen(native)) && put(L"%", 1);
            p = close + 1;
        } else {
            // Text, or a "%" that opens nothing: its closing "%" may open the next reference.
            ok = put(p, 1);
            ++p;
        }
        if (!ok) {
            out[0] = L'\0';
            return 0;
        }
    }
    out[used] = L'\0';
    return 1;
}
