// SPDX-License-Identifier: MIT
#include "fakes/version_fake.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "rules/version_seam.h"

namespace {

struct Place {
    std::size_t offset;
    std::uint32_t length;
};

struct State {
    std::map<std::string, FakeVersionFile> files;
    bool failAllocation = false;
    std::vector<std::string> sizeCalls;
    std::vector<std::string> queries;
    std::map<const void*, std::map<std::string, Place>> blocks;  // filled blocks' values
    int liveBlocks = 0;
    std::uint32_t userLanguage = 0x0411;
};

State& TheState() {
    static State state;
    return state;
}

const char* const TRANSLATION = "\\VarFileInfo\\Translation";

// The block's bytes and where each value stands in them.
std::string Layout(const FakeVersionFile& file, std::map<std::string, Place>* places) {
    std::string bytes;
    std::uint32_t length = static_cast<std::uint32_t>(file.translations.size() * 4);
    // An empty list stands at the very end, so reading a pair of it reads past the block.
    if (file.hasTranslationList && length > 0) {
        (*places)[TRANSLATION] = {bytes.size(), length};
        bytes.append(reinterpret_cast<const char*>(file.translations.data()), length);
    }
    for (const auto& text : file.texts) {
        (*places)[text.first] = {bytes.size(), static_cast<std::uint32_t>(text.second.size())};
        bytes += text.second;
    }
    if (file.hasTranslationList && length == 0) (*places)[TRANSLATION] = {bytes.size(), 0};
    return bytes;
}

}  // namespace

void FakeVersionReset() {
    State& state = TheState();
    state.files.clear();
    state.failAllocation = false;
    state.userLanguage = 0x0411;
    state.sizeCalls.clear();
    state.queries.clear();
}

void FakeVersionSetProductVersion(const std::string& path, const std::string& text) {
    FakeVersionFile file;
    file.texts["\\StringFileInfo\\040904B0\\ProductVersion"] = text + '\0';
    FakeVersionSetFile(path, file);
}

void FakeVersionSetFile(const std::string& path, const FakeVersionFile& file) {
    TheState().files[path] = file;
}

void FakeVersionFailAllocation(bool fail) { TheState().failAllocation = fail; }

void FakeVersionSetUserLanguage(std::uint32_t language) { TheState().userLanguage = language; }

const std::vector<std::string>& FakeVersionSizeCalls() { return TheState().sizeCalls; }

const std::vector<std::string>& FakeVersionQueries() { return TheState().queries; }

int FakeVersionLiveBlocks() { return TheState().liveBlocks; }

std::uint32_t VersionInfoSize(const char* path, std::uint32_t* handle) {
    State& state = TheState();
    state.sizeCalls.push_back(path);
    *handle = 0;
    auto file = state.files.find(path);
    if (file == state.files.end()) return 0;
    std::map<std::string, Place> places;
    return static_cast<std::uint32_t>(Layout(file->second, &places).size());
}

void* VersionBlockAlloc(std::uint32_t size) {
    State& state = TheState();
    if (state.failAllocation) return nullptr;
    void* block = std::calloc(size ? size : 1, 1);
    if (block) ++state.liveBlocks;
    return block;
}

void VersionBlockFree(void* block) {
    State& state = TheState();
    if (block == nullptr) return;
    state.blocks.erase(block);
    --state.liveBlocks;
    std::free(block);
}

int VersionInfoRead(const char* path, std::uint32_t, std::uint32_t size, void* block) {
    State& state = TheState();
    auto file = state.files.find(path);
    if (file == state.files.end() || file->second.readFails) return 0;
    std::map<std::string, Place> places;
    std::string bytes = Layout(file->second, &places);
    if (bytes.size() > size) return 0;
    std::memcpy(block, bytes.data(), bytes.size());
    state.blocks[block] = std::move(places);
    return 1;
}

int VersionQueryValue(const void* block, const char* queryPath, const void** value,
                      std::uint32_t* length) {
    State& state = TheState();
    state.queries.push_back(queryPath);
    auto filled = state.blocks.find(block);
    if (filled == state.blocks.end()) return 0;
    auto place = filled->second.find(queryPath);
    if (place == filled->second.end()) return 0;
    *value = static_cast<const unsigned char*>(block) + place->second.offset;
    *length = place->second.length;
    return 1;
}

std::uint32_t UserResourceLanguage() { return TheState().userLanguage; }

// ASCII as it is, every other unit as '?', as a code page without it gives.
int VersionTextToAnsi(const unsigned char* units16, std::uint32_t units, char* text,
                      std::size_t capacity) {
    if (units >= capacity) return 0;
    for (std::uint32_t k = 0; k < units; ++k) {
        unsigned unit = units16[2 * k] | units16[2 * k + 1] << 8;
        text[k] = unit < 0x80 ? static_cast<char>(unit) : '?';
    }
    text[units] = '\0';
    return 1;
}
