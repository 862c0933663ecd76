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

namespace {

// The path a name leads to once the swap has happened, and the swap itself when `looked` is
// the path that sets it off. A folder held by a handle opened without delete sharing cannot be
// renamed or deleted, so it cannot be swapped ("CreateFileA", learn.microsoft.com:
// FILE_SHARE_DELETE; "MoveFileExA": the rename needs DELETE access to the folder).
std::string Resolve(const std::string& path) {
    FakeExtras& state = State();
    const std::string& folder = state.swapFolder;
    if (state.swapped && path.compare(0, folder.size() + 1, folder + "\\") == 0)
        return state.swapTarget + path.substr(folder.size());
    return path;
}

void Looked(const std::string& path) {
    FakeExtras& state = State();
    if (state.swapped || state.swapWhen.empty() || path != state.swapWhen) return;
    if (state.held.count(state.swapFolder) && state.held[state.swapFolder] > 0) return;
    state.swapped = true;
    state.paths[state.swapFolder] = PATH_LINK;
}

PathKind KindAt(const std::string& path) {
    auto found = State().paths.find(Resolve(path));
    return found == State().paths.end() ? PATH_NONE : found->second;
}

}  // namespace

PathKind GetPathKind(const char* path) {
    PathKind kind = KindAt(path);
    Looked(path);
    return kind;
}

namespace {

struct FakeHandle {
    std::string path;    // as named
    std::string object;  // what it opened
};

FileRemoval Delete(const std::string& object) {
    FileRemoval removal = FILE_REMOVED;
    const char* word = "removed";
    auto found = State().paths.find(object);
    if (found == State().paths.end()) {
        removal = FILE_GONE;
        word = "gone";
    } else if (State().heldFiles.count(object)) {
        removal = FILE_HELD;
        word = "held";
    } else if (State().refusedFiles.count(object)) {
        removal = FILE_NOT_REMOVED;
        word = "refused";
    } else {
        State().paths.erase(found);
    }
    State().calls.push_back("Delete " + object + " " + word);
    return removal;
}

}  // namespace

void* HoldPath(const char* path, int, PathKind* kind) {
    *kind = KindAt(path);
    if (*kind == PATH_NONE) return nullptr;
    ++State().held[path];
    auto* handle = new FakeHandle{path, Resolve(path)};
    Looked(path);
    return handle;
}

FileRemoval RemoveHeldFile(void* held, const char*) {
    return Delete(static_cast<FakeHandle*>(held)->object);
}

void ReleasePath(void* held) {
    auto* handle = static_cast<FakeHandle*>(held);
    --State().held[handle->path];
    delete handle;
}

unsigned long LastStepError() { return FakeExtrasState().lastError; }

int CreateOneFolder(const char* path) {
    bool fails = State().failingFolders.count(path) > 0;
    State().calls.push_back(std::string("Mkdir ") + path + (fails ? " FAIL" : ""));
    if (fails) return 0;
    State().paths[path] = PATH_FOLDER;
    return 1;
}

FileRemoval RemoveOneFile(const char* path) { return Delete(Resolve(path)); }

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
