// SPDX-License-Identifier: MIT
#include "fakes/rules_fake.h"

#include <string>

#include "base/text.h"
#include "rules/rules_seam.h"

namespace {

struct Folders {
    bool hasWindows = true;
    std::string windows = "C:\\WINDOWS";
    bool hasSystem = true;
    std::string system = "C:\\WINDOWS\\system32";
    std::string missing;  // a folder that does not exist; every other one does
};

Folders& TheFolders() {
    static Folders folders;
    return folders;
}

int Give(bool has, const std::string& text, char* folder) {
    if (has && TextCopy(folder, PATH_TEXT_SIZE, text.c_str())) return 1;
    folder[0] = '\0';
    return 0;
}

}  // namespace

void FakeSetWindowsFolders(const char* windowsFolder, const char* systemFolder) {
    Folders& folders = TheFolders();
    folders.hasWindows = windowsFolder != nullptr;
    folders.windows = windowsFolder ? windowsFolder : "";
    folders.hasSystem = systemFolder != nullptr;
    folders.system = systemFolder ? systemFolder : "";
}

void FakeResetWindowsFolders() { TheFolders() = Folders(); }

int GetWindowsFolder(char* folder) {
    return Give(TheFolders().hasWindows, TheFolders().windows, folder);
}

int GetSystemFolder(char* folder) {
    return Give(TheFolders().hasSystem, TheFolders().system, folder);
}

void FakeSetMissingFolder(const char* folder) { TheFolders().missing = folder ? folder : ""; }

int InstallFolderExists(const char* folder) { return TheFolders().missing != folder; }
