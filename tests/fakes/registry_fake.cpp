// SPDX-License-Identifier: MIT
#include "fakes/registry_fake.h"

#include "base/text.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <tuple>
#include <utility>

namespace {

std::string Fold(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

struct Key {
    std::map<std::string, std::string> values;
};

// Root, view (1: 64-bit) and folded sub-key.
using KeyName = std::tuple<int, int, std::string>;

std::map<KeyName, Key>& Keys() {
    static std::map<KeyName, Key> keys;
    return keys;
}

std::vector<FakeRegistryOpen>& Reads() {
    static std::vector<FakeRegistryOpen> reads;
    return reads;
}

}  // namespace

void FakeRegistryReset() {
    Keys().clear();
    Reads().clear();
}

void FakeRegistryAddKey(RegistryRoot root, const std::string& subKey, bool view64) {
    Keys()[{root, view64, Fold(subKey)}];
}

void FakeRegistrySetValue(RegistryRoot root, const std::string& subKey,
                          const std::string& valueName, const std::string& data, bool view64) {
    Keys()[{root, view64, Fold(subKey)}].values[Fold(valueName)] = data;
}

const std::vector<FakeRegistryOpen>& FakeRegistryReads() { return Reads(); }

RegistryRead ReadRegistryFolder(RegistryRoot root, const char* subKey, unsigned access,
                                const char* valueName, char* folder) {
    Reads().push_back({root, subKey, access, valueName});
    folder[0] = '\0';
    bool view64 = (access & REGISTRY_KEY_64_BIT_VIEW) != 0;
    auto key = Keys().find({root, view64, Fold(subKey)});
    if (key == Keys().end()) return REGISTRY_NO_KEY;
    auto value = key->second.values.find(Fold(valueName));
    if (value == key->second.values.end()) return REGISTRY_NO_VALUE;
    const std::string& data = value->second;
    std::size_t length = std::min(data.find('\0'), data.size());
    if (data.size() > PATH_TEXT_SIZE || length >= PATH_TEXT_SIZE) return REGISTRY_NO_FOLDER;
    std::memcpy(folder, data.data(), length);
    folder[length] = '\0';
    return REGISTRY_READ;
}
