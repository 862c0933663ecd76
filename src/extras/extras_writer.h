// SPDX-License-Identifier: MIT
// Lays out the steps resource from data: tidepack's back end and the tests' source of them.
// Texts are taken as bytes (already in the target machines' code page).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct WriterRemoval {
    std::string target;  // "<InstallDir>\...\name"
    std::uint32_t flags = 0;
};

struct WriterRegistryValue {
    std::string key;
    std::string valueName;
    std::uint32_t type = 1;  // EXTRAS_REG_SZ or EXTRAS_REG_DWORD
    std::string text;
    std::uint32_t number = 0;
};

struct WriterExtras {
    std::vector<std::string> folders;  // "<InstallDir>\..."
    std::vector<WriterRemoval> removals;
    std::vector<WriterRegistryValue> values;

    bool Empty() const { return folders.empty() && removals.empty() && values.empty(); }
};

// The resource's bytes in `out`. Returns 1; 0 with a message in `error` when a text does not
// fit its field (terminator included) or a count passes EXTRAS_MAX_COUNT.
int BuildExtras(const WriterExtras& extras, std::vector<unsigned char>* out, std::string* error);
