// SPDX-License-Identifier: MIT
// The machine the shortcut tests start from: four special folders that exist, Windows XP, and
// a user "AppData" folder for Quick Launch.
#pragma once

#include <string>

#include "fakes/registry_fake.h"
#include "fakes/shell_fake.h"
#include "shortcuts/shell_folders.h"

constexpr char PROGRAMS_DIR[] = "C:\\ProgramData\\Start Menu\\Programs";
constexpr char DESKTOP_DIR[] = "C:\\Users\\Ann\\Desktop";
constexpr char START_MENU_DIR[] = "C:\\Users\\Ann\\Start Menu";
constexpr char STARTUP_DIR[] = "C:\\Users\\Ann\\Start Menu\\Programs\\Startup";
constexpr char APP_DATA_DIR[] = "C:\\Users\\Ann\\AppData";
constexpr char QUICK_LAUNCH_DIR[] =
    "C:\\Users\\Ann\\AppData\\Microsoft\\Internet Explorer\\Quick Launch";
constexpr char USER_SHELL_FOLDERS[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr char DEFAULT_MAP_GROUPS[] =
    ".DEFAULT\\Software\\Microsoft\\Windows\\CurrentVersion\\GrpConv\\MapGroups";

// Makes `path` and each of its parents an existing folder.
inline void AddFolderChain(const std::string& path) {
    for (std::size_t cut = path.find('\\'); cut != std::string::npos;
         cut = path.find('\\', cut + 1))
        FakeShellAddFolder(path.substr(0, cut));
    FakeShellAddFolder(path);
}

inline void SetUpShell() {
    FakeShellReset();
    FakeRegistryReset();
    FakeShellSetSpecialFolder(FOLDER_COMMON_PROGRAMS, PROGRAMS_DIR);
    FakeShellSetSpecialFolder(FOLDER_DESKTOP_DIRECTORY, DESKTOP_DIR);
    FakeShellSetSpecialFolder(FOLDER_START_MENU, START_MENU_DIR);
    FakeShellSetSpecialFolder(FOLDER_STARTUP, STARTUP_DIR);
    for (const char* folder :
         {PROGRAMS_DIR, DESKTOP_DIR, START_MENU_DIR, STARTUP_DIR, QUICK_LAUNCH_DIR})
        AddFolderChain(folder);
    FakeShellSetVersion(1, 5, 1, OS_PLATFORM_NT);
    // A REG_SZ value's data ends with its NUL.
    FakeRegistrySetValue(REGISTRY_CURRENT_USER, USER_SHELL_FOLDERS, "AppData",
                         std::string(APP_DATA_DIR) + '\0');
}
