// SPDX-License-Identifier: MIT
#include "fakes/log_place_fake.h"

#include "ui/log_place.h"
#include "ui/log_place_seam.h"

namespace {

FakeLogPlace g_state;

struct FakeFile {
    std::wstring path;
};
FakeFile g_files[8];
int g_filesUsed = 0;

}  // namespace

FakeLogPlace& FakeLogPlaceState() { return g_state; }

void FakeLogPlaceReset() {
    g_state = FakeLogPlace();
    g_filesUsed = 0;
}

int LogElevated() { return g_state.elevated; }

int ExpandLogPath(const wchar_t* asked, wchar_t* path) {
    std::wstring text = asked;
    const std::wstring variable = L"%ProgramData%";
    if (text.compare(0, variable.size(), variable) == 0)
        text = g_state.programData + text.substr(variable.size());
    if (text.size() + 1 > LOG_PATH_SIZE) return 0;
    text.copy(path, text.size());
    path[text.size()] = L'\0';
    return 1;
}

int DefaultLogFolder(int common, wchar_t* folder) {
    const std::wstring& text = common ? g_state.programData : g_state.temp;
    text.copy(folder, text.size());
    folder[text.size()] = L'\0';
    return 1;
}

LogFolderState MakeLogFolder(const wchar_t* folder, int protect, unsigned long* error) {
    if (g_state.folders.count(folder)) return LOG_FOLDER_THERE;
    if (g_state.failingFolders.count(folder)) {
        *error = 3;  // ERROR_PATH_NOT_FOUND: a drive that is not there
        return LOG_FOLDER_FAILED;
    }
    g_state.calls.push_back(std::wstring(L"Mkdir ") + folder + (protect ? L" protected" : L""));
    // A folder the elevated run makes is owned by Administrators.
    g_state.folders[folder] = 1;
    return LOG_FOLDER_MADE;
}

int LogFolderOwnerTrusted(const wchar_t* folder) {
    auto found = g_state.folders.find(folder);
    return found != g_state.folders.end() && found->second;
}

void* OpenLogFile(const wchar_t* path, int createNew, unsigned long long* size,
                  unsigned long* error) {
    g_state.calls.push_back(std::wstring(L"Open ") + path + (createNew ? L" new" : L""));
    auto found = g_state.files.find(path);
    if (createNew && found != g_state.files.end()) {
        *error = 80;  // ERROR_FILE_EXISTS
        return nullptr;
    }
    if (g_filesUsed == 8) return nullptr;
    *size = found == g_state.files.end() ? 0 : found->second;
    if (found == g_state.files.end()) g_state.files[path] = 0;
    g_files[g_filesUsed].path = path;
    return &g_files[g_filesUsed++];
}

int LogFinalPathIs(void* file, const wchar_t* path) {
    const std::wstring& opened = static_cast<FakeFile*>(file)->path;
    auto found = g_state.finalPaths.find(opened);
    return opened == path && found == g_state.finalPaths.end();
}

int RenameLogFile(const wchar_t* from, const wchar_t* to) {
    g_state.calls.push_back(std::wstring(L"Rename ") + from + L" > " + to);
    auto found = g_state.files.find(from);
    if (found == g_state.files.end()) return 0;
    g_state.files[to] = found->second;
    g_state.files.erase(from);
    return 1;
}

void CloseLogFile(void*) {}
