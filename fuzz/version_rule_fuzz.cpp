// SPDX-License-Identifier: MIT
// The version rule on its own: VersionNumber over any text, and ReadProductVersion and
// IsNewerOrSame over version blocks of any shape the fake can lay out: missing, empty or odd
// translation lists, a ProductVersion under the first pair or elsewhere, with or without its
// terminator, of any length. No read may leave the block, and a version text that is read
// must fit 63 characters.
//
// Input: a byte of choices, the translation list's length in pairs, the pairs, then
// NUL-separated parts: the packaged copy's ProductVersion bytes, the installed copy's, and a
// text for VersionNumber.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/text.h"
#include "fakes/version_fake.h"
#include "rules/version.h"

namespace {

std::string NextPart(const std::uint8_t** at, const std::uint8_t* end) {
    const std::uint8_t* start = *at;
    const std::uint8_t* nul = static_cast<const std::uint8_t*>(std::memchr(start, 0, end - start));
    const std::uint8_t* stop = nul ? nul : end;
    *at = nul ? nul + 1 : end;
    return std::string(reinterpret_cast<const char*>(start), stop - start);
}

char QueryNibble(unsigned value) { return "0123456789ABCDEF"[value & 0xF]; }

// The ProductVersion query path of a translation pair, as the rule asks for it.
std::string QueryOf(std::uint32_t pair) {
    std::string query = "\\StringFileInfo\\";
    unsigned language = pair & 0xFFFF, codePage = pair >> 16;
    for (int shift = 12; shift >= 0; shift -= 4) query += QueryNibble(language >> shift);
    for (int shift = 12; shift >= 0; shift -= 4) query += QueryNibble(codePage >> shift);
    return query + "\\ProductVersion";
}

// A file from the choices: bit 0 no translation list, bit 1 the text stands under another
// pair than the first, bit 2 the text carries its terminator, bit 3 the read fails.
FakeVersionFile FileOf(unsigned choices, const std::vector<std::uint32_t>& pairs,
                       const std::string& text) {
    FakeVersionFile file;
    file.hasTranslationList = !(choices & 1);
    file.translations = pairs;
    std::uint32_t pair = pairs.empty() ? 0x04B00409u : pairs[0];
    if ((choices & 2) && pairs.size() > 1) pair = pairs[1];
    file.texts[QueryOf(pair)] = (choices & 4) ? text + '\0' : text;
    file.readFails = (choices & 8) != 0;
    return file;
}

void Fail(const char* what) {
    std::fprintf(stderr, "version_rule: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    unsigned choices = data[0];
    std::size_t pairCount = data[1] % 4;
    const std::uint8_t* at = data + 2;
    const std::uint8_t* end = data + size;
    std::vector<std::uint32_t> pairs;
    for (std::size_t i = 0; i < pairCount && end - at >= 4; ++i, at += 4) {
        std::uint32_t pair;
        std::memcpy(&pair, at, 4);
        pairs.push_back(pair);
    }
    std::string newText = NextPart(&at, end);
    std::string installedText = NextPart(&at, end);
    std::string numberText = NextPart(&at, end);

    VersionNumber(numberText.c_str());

    FakeVersionReset();
    FakeVersionSetFile("new", FileOf(choices & 0xF, pairs, newText));
    if (!(choices & 0x80))
        FakeVersionSetFile("installed", FileOf(choices >> 4, pairs, installedText));
    FakeVersionFailAllocation((choices & 0x70) == 0x70);

    char version[VERSION_TEXT_SIZE];
    std::memset(version, 0x5A, sizeof version);
    if (ReadProductVersion("new", version)) {
        std::size_t length = TextLength(version, sizeof version);
        if (length >= VERSION_TEXT_SIZE) Fail("a version text without its terminator");
        // What was read is the start of what the block holds, never anything else.
        if (newText.compare(0, length, version, length) != 0)
            Fail("a version text not from the block");
    }
    IsNewerOrSame("new", "installed");
    if (FakeVersionLiveBlocks() != 0) Fail("a version block was not freed");
    return 0;
}
