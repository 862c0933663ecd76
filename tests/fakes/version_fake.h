// SPDX-License-Identifier: MIT
// Host stand-in for the version information of files (rules/version_seam.h).
//
// A file's block holds its translation list and then each of its texts, byte for byte, and is
// exactly as long as they are together, so a read past a value is a read past the allocation.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct FakeVersionFile {
    bool hasTranslationList = true;
    std::vector<std::uint32_t> translations{0x04B00409};  // language 0x0409, code page 0x04B0
    // Query path (such as "\StringFileInfo\040904B0\ProductVersion") to the value's raw bytes,
    // terminator included when it has one.
    std::map<std::string, std::string> texts;
    bool readFails = false;  // VersionInfoRead fails for this file
};

// Forgets every file and recorded call; allocation works again.
void FakeVersionReset();
// A file whose ProductVersion `text` stands under the default translation pair.
void FakeVersionSetProductVersion(const std::string& path, const std::string& text);
void FakeVersionSetFile(const std::string& path, const FakeVersionFile& file);
// The language UserResourceLanguage gives (Japanese until set).
void FakeVersionSetUserLanguage(std::uint32_t language);
// Makes VersionBlockAlloc fail from now on.
void FakeVersionFailAllocation(bool fail);
// Paths given to VersionInfoSize, in order.
const std::vector<std::string>& FakeVersionSizeCalls();
// Query paths given to VersionQueryValue, in order.
const std::vector<std::string>& FakeVersionQueries();
// Blocks allocated and not yet freed.
int FakeVersionLiveBlocks();
