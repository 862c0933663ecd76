// SPDX-License-Identifier: MIT
#include "fakes/shell_fake.h"

#include <cctype>
#include <cstring>
#include <map>

#include "base/text.h"

namespace {

std::string Fold(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Windows reads a path by characters of the ANSI code page: a second byte 0x5C is no separator.
std::string ParentOf(const std::string& path) {
    const char* cut = FindLastBackslash(path.c_str());
    return cut ? path.substr(0, static_cast<std::size_t>(cut - path.c_str())) : std::string();
}

struct Shell {
    std::map<int, std::string> specialFolders;
    int versionSucceeded = 1;
    unsigned major = 5, minor = 1, platform = 2;
    std::map<std::string, int> folders;        // folded path
    std::map<std::string, std::string> files;  // folded path, content
    bool copiesFail = false;
    std::vector<FakeShellLink> links;
    std::vector<std::string> calls;
};

Shell& State() {
    static Shell shell;
    return shell;
}

}  // namespace

void FakeShellReset() { State() = Shell(); }

void FakeShellSetSpecialFolder(int folderNumber, const std::string& path) {
    State().specialFolders[folderNumber] = path;
}

void FakeShellSetVersion(int succeeded, unsigned major, unsigned minor, unsigned platform) {
    State().versionSucceeded = succeeded;
    State().major = major;
    State().minor = minor;
    State().platform = platform;
}

void FakeShellAddFolder(const std::string& path) { State().folders[Fold(path)] = 1; }

void FakeShellAddFile(const std::string& path, const std::string& content) {
    State().files[Fold(path)] = content;
}

int FakeShellHasFile(const std::string& path, std::string* content) {
    auto file = State().files.find(Fold(path));
    if (file == State().files.end()) return 0;
    if (content) *content = file->second;
    return 1;
}

int FakeShellHasFolder(const std::string& path) {
    return State().folders.count(Fold(path)) ? 1 : 0;
}

void FakeShellFailCopies() { State().copiesFail = true; }

const std::vector<FakeShellLink>& FakeShellLinks() { return State().links; }

const std::vector<std::string>& FakeShellCalls() { return State().calls; }

int LookUpSpecialFolder(int folderNumber, char* folder) {
    auto found = State().specialFolders.find(folderNumber);
    if (found == State().specialFolders.end() || found->second.size() >= PATH_TEXT_SIZE) return 0;
    return TextCopy(folder, PATH_TEXT_SIZE, found->second.c_str());
}

int ReadVersionNumbers(unsigned* major, unsigned* minor, unsigned* platform) {
    if (!State().versionSucceeded) return 0;
    *major = State().major;
    *minor = State().minor;
    *platform = State().platform;
    return 1;
}

int ShortcutPathExists(const char* path) {
    return FakeShellHasFile(path) || FakeShellHasFolder(path);
}

int ShortcutFolderOpens(const char* folder) { return ShortcutPathExists(folder); }

void MakeShortcutFolder(const char* path) {
    State().calls.push_back(std::string("mkdir ") + path);
    std::string parent = ParentOf(path);
    // Like CreateDirectoryA: the parent must exist, the name must be free, and a bare drive
    // or an empty name cannot be made.
    if (ShortcutPathExists(path) || parent.empty() || !FakeShellHasFolder(parent)) return;
    FakeShellAddFolder(path);
}

int CopyShortcutFile(const char* source, const char* destination) {
    State().calls.push_back(std::string("copy ") + source + " > " + destination);
    std::string content;
    if (State().copiesFail || !FakeShellHasFile(source, &content) ||
        FakeShellHasFolder(destination) || !FakeShellHasFolder(ParentOf(destination)))
        return 0;
    FakeShellAddFile(destination, content);
    return 1;
}

void DeleteShortcutFile(const char* path) {
    State().calls.push_back(std::string("delete ") + path);
    State().files.erase(Fold(path));
}

int SaveShellLink(const char* targetPath, const char* arguments, const char* linkPath,
                  const char* workingDir, const char* description) {
    State().calls.push_back(std::string("link ") + linkPath);
    if (FakeShellHasFolder(linkPath) || !FakeShellHasFolder(ParentOf(linkPath))) return 0;
    State().links.push_back({targetPath, arguments, linkPath, workingDir, description});
    FakeShellAddFile(linkPath, std::string("link to ") + targetPath);
    return 1;
}
