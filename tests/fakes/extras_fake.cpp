// SPDX-License-Identifier: MIT
#include "fakes/extras_fake.h"

namespace {

FakeExtras& State() {
    static FakeExtras state;
    return state;
}

}  // namespace

FakeExtras& FakeExtrasState() { return State(); }

void FakeExtrasReset() { State() = FakeExtras(); }

int LoadExtrasResource(ExtrasImage* image) {
    if (!State().hasResource) return 0;
    image->data = State().resource.data();
    image->size = static_cast<std::uint32_t>(State().resource.size());
    return 1;
}

PathKind GetPathKind(const char* path) {
    auto found = State().paths.find(path);
    return found == State().paths.end() ? PATH_NONE : found->second;
}

unsigned long LastStepError() { return FakeExtrasState().lastError; }

int CreateOneFolder(const char* path) {
    bool fails = State().failingFolders.count(path) > 0;
    State().calls.push_back(std::string("Mkdir ") + path + (fails ? " FAIL" : ""));
    if (fails) return 0;
    State().paths[path] = PATH_FOLDER;
    return 1;
}

FileRemoval RemoveOneFile(const char* path) {
    FileRemoval removal = FILE_REMOVED;
    const char* word = "removed";
    if (GetPathKind(path) == PATH_NONE) {
        removal = FILE_GONE;
        word = "gone";
    } else if (State().heldFiles.count(path)) {
        removal = FILE_HELD;
        word = "held";
    } else if (State().refusedFiles.count(path)) {
        removal = FILE_NOT_REMOVED;
        word = "refused";
    } else {
        State().paths.erase(path);
    }
    State().calls.push_back(std::string("Delete ") + path + " " + word);
    return removal;
}

int RemoveEmptyFolder(const char* path) {
    State().calls.push_back(std::string("Rmdir ") + path);
    std::string prefix = std::string(path) + "\\";
    for (const auto& [other, kind] : State().paths)
        if (other.compare(0, prefix.size(), prefix) == 0) return 0;
    State().paths.erase(path);
    return 1;
}

ValueWrite WriteRegistryValue(RegistryRoot root, const char* subKey, unsigned view,
                              const char* valueName, std::uint32_t type, const char* text,
                              std::uint32_t number) {
    std::string key = std::to_string(root) + ":" + subKey + "@" + std::to_string(view);
    ValueWrite write = State().keys.count(key) ? VALUE_WRITTEN : VALUE_NO_KEY;
    std::string data = type == EXTRAS_REG_DWORD ? std::to_string(number) : std::string(text);
    State().calls.push_back("SetValue " + key + " " + valueName + "=" + data +
                            (write == VALUE_WRITTEN ? " written" : " no key"));
    return write;
}
