// SPDX-License-Identifier: MIT
// The version rule: ProductVersion texts, reduced to their digits, compared as numbers.
#include "rules/version.h"

#include <cstring>

#include "base/text.h"
#include "rules/version_seam.h"

namespace {

// Bytes of the block from `value` to its end; 0 when `value` lies outside the block.
std::size_t BytesLeft(const void* block, std::uint32_t size, const void* value) {
    const unsigned char* start = static_cast<const unsigned char*>(block);
    const unsigned char* at = static_cast<const unsigned char*>(value);
    if (at < start || at >= start + size) return 0;
    return static_cast<std::size_t>(start + size - at);
}

// The steps between allocation and free, so that every outcome passes through one free.
int QueryProductVersion(const char* path, std::uint32_t handle, std::uint32_t size, void* block,
                        char* versionText) {
    if (!VersionInfoRead(path, handle, size, block)) return 0;

    const void* value;
    std::uint32_t length;
    if (!VersionQueryValue(block, "\\VarFileInfo\\Translation", &value, &length)) return 0;
    // An empty list has no first pair to read.
    if (length < 4 || BytesLeft(block, size, value) < 4) return 0;
    std::uint32_t pair;
    std::memcpy(&pair, value, sizeof pair);

    char query[PATH_TEXT_SIZE];
    if (!TextFormat(query, sizeof query, "\\StringFileInfo\\%04X%04X\\ProductVersion",
                    static_cast<unsigned>(pair & 0xFFFF), static_cast<unsigned>(pair >> 16)))
        return 0;
    if (!VersionQueryValue(block, query, &value, &length)) return 0;

    // Read no further than the block, and count a text that does not fit 63 characters as none.
    std::size_t left = BytesLeft(block, size, value);
    std::size_t limit = left < VERSION_TEXT_SIZE ? left : VERSION_TEXT_SIZE;
    std::size_t textLength = TextLength(static_cast<const char*>(value), limit);
    if (textLength >= limit) return 0;
    std::memcpy(versionText, value, textLength + 1);
    return 1;
}

}  // namespace

int ReadProductVersion(const char* path, char* versionText) {
    std::uint32_t handle = 0;
    std::uint32_t size = VersionInfoSize(path, &handle);
    if (size == 0) return 0;
    void* block = VersionBlockAlloc(size);
    if (block == nullptr) return 0;
    int found = QueryProductVersion(path, handle, size, block, versionText);
    VersionBlockFree(block);
    return found;
}

std::uint32_t VersionNumber(const char* versionText) {
    std::uint32_t number = 0;
    for (const char* c = versionText; *c != '\0'; ++c) {
        if (*c >= '0' && *c <= '9') number = number * 10u + static_cast<std::uint32_t>(*c - '0');
    }
    return number;
}

int IsNewerOrSame(const char* newFile, const char* installedFile) {
    return IsNewerOrSameWithVersions(newFile, installedFile, nullptr, 0);
}

int IsNewerOrSameWithVersions(const char* newFile, const char* installedFile, char* versions,
                              std::size_t capacity) {
    char newText[VERSION_TEXT_SIZE];
    int haveNew = ReadProductVersion(newFile, newText);
    return DecideByVersions(haveNew ? newText : nullptr, installedFile, versions, capacity);
}

int DecideByVersions(const char* newText, const char* installedFile, char* versions,
                     std::size_t capacity) {
    char installedText[VERSION_TEXT_SIZE];
    // Without the packaged copy's version the installed one is not read: the answer is known.
    int haveInstalled = newText && ReadProductVersion(installedFile, installedText);
    if (versions)
        TextFormat(versions, capacity, "packaged %s, installed %s", newText ? newText : "none",
                   haveInstalled ? installedText : "none");
    if (!newText || !haveInstalled) return 1;
    return VersionNumber(newText) >= VersionNumber(installedText) ? 1 : 0;
}
