#include "fakes/registry_fake.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <utility>

namespace {

std::string Fold(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

struct Key {
    std::map<std::string, std::string> values;
};

std::map<std::pair<int, std::string>, Key>& Keys() {
    static std::map<std::pair<int, std::string>, Key> keys;
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

void FakeRegistryAddKey(RegistryRoot root, const std::string& subKey) {
    Keys()[{root, Fold(subKey)}];
}

void FakeRegistrySetValue(RegistryRoot root, const std::string& subKey,
                          const std::string& valueName, const std::string& data) {
    Keys()[{root, Fold(subKey)}].values[Fold(valueName)] = data;
}

const std::vector<FakeRegistryOpen>& FakeRegistryReads() { return Reads(); }

RegistryRead ReadRegistryValue(RegistryRoot root, const char* subKey, unsigned access,
                               const char* valueName, char* buffer, std::size_t capacity,
                               std::size_t* length) {
    Reads().push_back({root, subKey, access, valueName});
    auto key = Keys().find({root, Fold(subKey)});
    if (key == Keys().end()) return REGISTRY_NO_KEY;
    auto value = key->second.values.find(Fold(valueName));
    if (value == key->second.values.end() || value->second.size() > capacity)
        return REGISTRY_NO_VALUE;
    std::memcpy(buffer, value->second.data(), value->second.size());
    *length = value->second.size();
    return REGISTRY_READ;
}
