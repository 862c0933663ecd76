// SPDX-License-Identifier: MIT
// The shortcut text of an entry and the move records on their own, over the shell fake: every
// line becomes at most one shortcut, and no path, working folder or description may leave its
// buffer, whatever the text and whatever folders the machine has.
//
// Input: a byte choosing the Windows release (its top bit the ANSI code page, 932 or 1252), a
// byte choosing the machine's folders, then
// NUL-separated parts: the target path, the shortcut text, a move's `from`, its `to`, and the
// raw data of the user's "AppData" value.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/text.h"
#include "fakes/registry_fake.h"
#include "fakes/shell_fake.h"
#include "fakes/system_fake.h"
#include "shortcuts/shell_folders.h"
#include "shortcuts/shortcuts.h"

namespace {

const char SHELL_FOLDERS[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char MAP_GROUPS[] =
    ".DEFAULT\\Software\\Microsoft\\Windows\\CurrentVersion\\GrpConv\\MapGroups";

struct Release {
    int succeeded;
    unsigned major, minor, platform;
};

const Release RELEASES[] = {{1, 4, 0, 1},  {1, 4, 10, 1}, {1, 4, 90, 1}, {1, 4, 0, 2},
                            {1, 5, 0, 2},  {1, 5, 1, 2},  {1, 5, 2, 2},  {1, 6, 0, 2},
                            {1, 3, 51, 2}, {1, 7, 0, 3},  {0, 0, 0, 0},  {1, 5, 9, 1}};

void AddFolderChain(const std::string& path) {
    for (std::size_t cut = path.find('\\'); cut != std::string::npos;
         cut = path.find('\\', cut + 1))
        FakeShellAddFolder(path.substr(0, cut));
    FakeShellAddFolder(path);
}

// A folder of `length` characters under C:\, existing on the fake machine.
std::string FolderOfLength(const std::string& start, std::size_t length) {
    std::string folder = start;
    while (folder.size() < length) folder += folder.size() % 40 == 39 ? '\\' : 'd';
    if (folder.back() == '\\') folder.back() = 'e';
    return folder;
}

void SetUpMachine(std::uint8_t release, std::uint8_t folders, const std::string& appData) {
    FakeShellReset();
    FakeRegistryReset();
    const Release& r = RELEASES[release % (sizeof RELEASES / sizeof RELEASES[0])];
    FakeShellSetVersion(r.succeeded, r.major, r.minor, r.platform);
    FakeSystemSetCodePage(release & 0x80 ? 932 : 1252);
    // Bits 0-3: whether each special folder exists; bit 4: the desktop's path is near the
    // 259-character limit; bit 5: the default user's Quick Launch value is set; bit 6: the
    // user's shell-folder key exists without an "AppData" value.
    const struct {
        int number;
        const char* path;
    } special[] = {{FOLDER_COMMON_PROGRAMS, "C:\\All Users\\Start Menu\\Programs"},
                   {FOLDER_DESKTOP_DIRECTORY, "C:\\Ann\\Desktop"},
                   {FOLDER_START_MENU, "C:\\Ann\\Start Menu\\"},
                   {FOLDER_STARTUP, "C:\\Ann\\Start Menu\\Programs\\Startup"}};
    for (int i = 0; i < 4; ++i) {
        if (!(folders & (1 << i))) continue;
        std::string path = special[i].path;
        if (special[i].number == FOLDER_DESKTOP_DIRECTORY && (folders & 0x10))
            path = FolderOfLength("C:\\Ann\\Desktop\\", 250);
        FakeShellSetSpecialFolder(special[i].number, path);
        AddFolderChain(path.back() == '\\' ? path.substr(0, path.size() - 1) : path);
    }
    if (!appData.empty())
        FakeRegistrySetValue(REGISTRY_CURRENT_USER, SHELL_FOLDERS, "AppData", appData);
    else if (folders & 0x40)
        FakeRegistryAddKey(REGISTRY_CURRENT_USER, SHELL_FOLDERS);
    if (folders & 0x20)
        FakeRegistrySetValue(REGISTRY_USERS, MAP_GROUPS, "Quick Launch",
                             std::string("C:\\Default\\Quick Launch") + '\0');
}

// The next part of the input up to a NUL (or its end); `terminated` tells which.
std::string NextPart(const std::uint8_t** at, const std::uint8_t* end, bool* terminated) {
    const std::uint8_t* start = *at;
    const std::uint8_t* nul = static_cast<const std::uint8_t*>(std::memchr(start, 0, end - start));
    *terminated = nul != nullptr;
    const std::uint8_t* stop = nul ? nul : end;
    *at = nul ? nul + 1 : end;
    return std::string(reinterpret_cast<const char*>(start), stop - start);
}

void Fail(const char* what, const std::string& text) {
    std::fprintf(stderr, "shortcut_text: %s: %s\n", what, text.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::uint8_t* at = data + 2;
    const std::uint8_t* end = data + size;
    bool terminated;
    std::string target = NextPart(&at, end, &terminated);
    std::string text = NextPart(&at, end, &terminated);
    bool textTerminated = terminated;
    std::string from = NextPart(&at, end, &terminated);
    std::string to = NextPart(&at, end, &terminated);
    std::string appData(reinterpret_cast<const char*>(at), end - at);
    SetUpMachine(data[0], data[1], appData);

    // The target comes from ResolveTargetPath, so it is a path text.
    if (target.size() >= PATH_TEXT_SIZE) target.resize(PATH_TEXT_SIZE - 1);

    // A text that runs to the end of the input without a NUL is given exactly as long as it
    // is once it fills the package field, so ASan sees a read past the field.
    std::vector<char> field;
    if (!textTerminated && text.size() >= SHORTCUT_TEXT_SIZE) {
        field.assign(text.begin(), text.begin() + SHORTCUT_TEXT_SIZE);
    } else {
        field.assign(text.begin(), text.end());
        field.push_back('\0');
    }
    ApplyShortcutSpecs(field.data(), target.c_str());
    MoveShortcut(from.c_str(), to.c_str());

    for (const FakeShellLink& link : FakeShellLinks()) {
        if (link.linkPath.size() >= PATH_TEXT_SIZE) Fail("link path too long", link.linkPath);
        if (link.workingDir.size() >= PATH_TEXT_SIZE)
            Fail("working folder too long", link.workingDir);
        if (link.description.size() >= DESCRIPTION_SIZE)
            Fail("description too long", link.description);
        if (link.linkPath.size() < 4 || link.linkPath.compare(link.linkPath.size() - 4, 4, ".lnk"))
            Fail("a link not ending in .lnk", link.linkPath);
        if (link.targetPath != target) Fail("a link to another target", link.targetPath);
    }
    return 0;
}
