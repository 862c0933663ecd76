// SPDX-License-Identifier: MIT
// Host stand-in for the registry: values set by a test, read through ReadRegistryFolder.
#pragma once

#include <string>
#include <vector>

#include "base/registry.h"

struct FakeRegistryOpen {
    RegistryRoot root;
    std::string subKey;
    unsigned access;
    std::string valueName;
};

// Clears every key, value and recorded read.
void FakeRegistryReset();
// Makes the key exist (without values), in the 32-bit view or, with `view64`, the 64-bit one.
void FakeRegistryAddKey(RegistryRoot root, const std::string& subKey, bool view64 = false);
// Sets a value's data as the program's code page spells it, the key created. It reads as the
// real side reads a text: up to its first NUL byte; data longer than the buffer, or filling it
// without a NUL, is no folder. Key and value names match without regard to ASCII case, as in
// the real registry.
void FakeRegistrySetValue(RegistryRoot root, const std::string& subKey,
                          const std::string& valueName, const std::string& data,
                          bool view64 = false);
// Every ReadRegistryFolder call since the last reset, in order.
const std::vector<FakeRegistryOpen>& FakeRegistryReads();
