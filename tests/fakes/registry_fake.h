// Host stand-in for the registry: values set by a test, read through ReadRegistryValue.
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
// Makes the key exist (without values).
void FakeRegistryAddKey(RegistryRoot root, const std::string& subKey);
// Sets a value's raw data; the key is created. Key and value names match without regard to
// ASCII case, as in the real registry.
void FakeRegistrySetValue(RegistryRoot root, const std::string& subKey,
                          const std::string& valueName, const std::string& data);
// Every ReadRegistryValue call since the last reset, in order.
const std::vector<FakeRegistryOpen>& FakeRegistryReads();
