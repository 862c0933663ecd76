// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/text.h"
#include "shell_setup.h"

namespace {

constexpr unsigned W9X = OS_PLATFORM_WIN9X;
constexpr unsigned NT = OS_PLATFORM_NT;

TEST(OsKind, ClassifiesEveryReleaseRow) {
    struct Row {
        const char* name;
        int succeeded;
        unsigned major, minor, platform;
        OsKind kind;
    } rows[] = {
        {"Windows 3.x", 1, 3, 10, W9X, OS_KIND_OLDER},
        {"NT 3.51", 1, 3, 51, NT, OS_KIND_OLDER},
        {"Win32s (platform 0)", 1, 3, 1, 0, OS_KIND_OLDER},
        {"Windows 95", 1, 4, 0, W9X, OS_KIND_WIN95},
        {"Windows 98", 1, 4, 10, W9X, OS_KIND_WIN98},
        {"Windows Me", 1, 4, 90, W9X, OS_KIND_ME},
        {"other 9x 4.3", 1, 4, 3, W9X, OS_KIND_OTHER_9X},
        {"NT 4.0", 1, 4, 0, NT, OS_KIND_NT4},
        {"NT 4.10 is still NT 4", 1, 4, 10, NT, OS_KIND_NT4},
        {"9x reporting 5", 1, 5, 0, W9X, OS_KIND_OTHER_9X},
        {"Windows 2000", 1, 5, 0, NT, OS_KIND_WIN2000},
        {"Windows XP", 1, 5, 1, NT, OS_KIND_XP},
        {"Server 2003", 1, 5, 2, NT, OS_KIND_SERVER2003},
        {"NT 5.3", 1, 5, 3, NT, OS_KIND_OTHER_NT},
        {"Vista", 1, 6, 0, NT, OS_KIND_VISTA},
        {"Windows 7", 1, 6, 1, NT, OS_KIND_VISTA},
        {"6.0 on platform 1", 1, 6, 0, W9X, OS_KIND_VISTA},
        {"6.2 on platform 3", 1, 6, 2, 3, OS_KIND_VISTA},
        {"9x reporting 7", 1, 7, 0, W9X, OS_KIND_OTHER_9X},
        {"Windows 10", 1, 10, 0, NT, OS_KIND_OTHER_NT},
        {"major above 2^31 is large, not negative", 1, 0x80000000u, 0, NT, OS_KIND_OTHER_NT},
        {"4.0 on platform 3", 1, 4, 0, 3, OS_KIND_OLDER},
        {"5.1 on platform 0", 1, 5, 1, 0, OS_KIND_OLDER},
        {"10.0 on platform 3", 1, 10, 0, 3, OS_KIND_OLDER},
        {"failed call ignores the numbers", 0, 6, 1, NT, OS_KIND_OLDER},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.kind, ClassifyOsKind(row.succeeded, row.major, row.minor, row.platform));
        FakeShellSetVersion(row.succeeded, row.major, row.minor, row.platform);
        EXPECT_EQ(row.kind, GetOsKind());
    }
}

class ShellFolders : public ::testing::Test {
protected:
    void SetUp() override { SetUpShell(); }
};

std::string Resolve(const char* shortcut, int* result) {
    char path[PATH_TEXT_SIZE];
    std::memset(path, 0xDD, sizeof path);
    *result = ResolveShortcutPath(shortcut, path);
    if (*result) return path;
    // Refused: the caller's buffer must be exactly as it was.
    for (unsigned char byte : path) EXPECT_EQ(0xDD, byte);
    return std::string();
}

TEST_F(ShellFolders, ResolvesEachTagInItsPlace) {
    std::string desktop = DESKTOP_DIR;
    struct Row {
        const char* shortcut;
        std::string path;  // empty: no path
    } rows[] = {
        {"<ProgramMenu>\\Example Suite\\Example Tool",
         std::string(PROGRAMS_DIR) + "\\Example Suite\\Example Tool.lnk"},
        {"<Desktop>\\App", desktop + "\\App.lnk"},
        {"<DESKTOP>\\App", desktop + "\\App.lnk"},
        {"<desktop>\\App", desktop + "\\App.lnk"},
        {"<StartMenu>\\App", std::string(START_MENU_DIR) + "\\App.lnk"},
        {"<StartUpMenu>\\App", std::string(STARTUP_DIR) + "\\App.lnk"},
        {"<startupmenu>\\App", std::string(STARTUP_DIR) + "\\App.lnk"},
        {"<QuickLaunch>\\App", std::string(QUICK_LAUNCH_DIR) + "\\App.lnk"},
        {"<Desktop>", desktop + ".lnk"},
        {"<Desktop>App", desktop + "App.lnk"},
        {"<Desktop>\\\\App", desktop + "\\\\App.lnk"},
        {"<Desktop>\\App\\", desktop + "\\App\\.lnk"},
        {" <Desktop>\\App", ""},
        {"\"<Desktop>\\App", ""},
        {"<Desk>\\App", ""},
        {"<Desktop", ""},
        {"<InstallDir>\\App", ""},
        {"", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.shortcut);
        int result = -1;
        EXPECT_EQ(row.path, Resolve(row.shortcut, &result));
        EXPECT_EQ(row.path.empty() ? 0 : 1, result);
    }
}

TEST_F(ShellFolders, DropsOneBackslashFromTheFolderOnly) {
    struct Row {
        const char* folder;
        const char* shortcut;
        const char* path;
    } rows[] = {
        {"D:\\", "<Desktop>\\App", "D:\\App.lnk"},
        {"D:\\", "<Desktop>\\\\App", "D:\\\\App.lnk"},
        {"D:\\Two\\\\", "<Desktop>\\App", "D:\\Two\\\\App.lnk"},
        {"", "<Desktop>\\App", "\\App.lnk"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.folder) + " + " + row.shortcut);
        FakeShellSetSpecialFolder(FOLDER_DESKTOP_DIRECTORY, row.folder);
        int result = -1;
        EXPECT_EQ(row.path, Resolve(row.shortcut, &result));
    }
}

TEST_F(ShellFolders, AFolderThatCannotBeFoundGivesNoPath) {
    FakeShellReset();
    for (const char* shortcut :
         {"<ProgramMenu>\\A", "<Desktop>\\A", "<StartMenu>\\A", "<StartUpMenu>\\A"}) {
        SCOPED_TRACE(shortcut);
        int result = -1;
        Resolve(shortcut, &result);
        EXPECT_EQ(0, result);
    }
}

TEST_F(ShellFolders, PathMustFitTwoHundredFiftyNineCharacters) {
    // Folder "C:\" plus letters, rest "\App", ".lnk": the path is the folder's length + 8.
    for (std::size_t pathLength : {258u, 259u, 260u, 267u}) {
        SCOPED_TRACE(pathLength);
        std::string folder = "C:\\" + std::string(pathLength - 8 - 3, 'f');
        FakeShellSetSpecialFolder(FOLDER_DESKTOP_DIRECTORY, folder);
        char path[PATH_TEXT_SIZE];
        std::memset(path, 0xDD, sizeof path);
        ShortcutPlace place = ResolveShortcutPlace("<Desktop>\\App", path);
        if (pathLength <= 259) {
            EXPECT_EQ(SHORTCUT_PLACE_FOUND, place);
            EXPECT_EQ(folder + "\\App.lnk", path);
        } else {
            EXPECT_EQ(SHORTCUT_PLACE_TOO_LONG, place);
            EXPECT_EQ(0xDD, static_cast<unsigned char>(path[0]));
        }
    }
    char path[PATH_TEXT_SIZE];
    EXPECT_EQ(SHORTCUT_PLACE_NONE, ResolveShortcutPlace("<Nowhere>\\App", path));
}

TEST_F(ShellFolders, QuickLaunchRoutes) {
    const std::string appData = std::string(APP_DATA_DIR) + '\0';
    const std::string defaultQuickLaunch = "C:\\Windows\\Quick Launch";
    const std::string suffix = "\\Microsoft\\Internet Explorer\\Quick Launch";
    struct Row {
        const char* name;
        int succeeded;
        unsigned major, minor, platform;
        const std::string* userValue;     // null: no key; &none: the key without the value
        const std::string* defaultValue;  // the same for the default user's key
        const char* reads;                // the routes asked, in order: U user, D default
        std::string folder;               // empty: result 0
    };
    const std::string none;
    const std::string emptyText(1, '\0');
    const std::string unterminated = "C:\\Data";
    const std::string fills260(260, 'x');
    const std::string fits259 = "C:\\" + std::string(259 - 41 - 3, 'a') + '\0';
    const std::string over259 = "C:\\" + std::string(260 - 41 - 3, 'a') + '\0';
    Row rows[] = {
        {"XP reads the user's AppData", 1, 5, 1, NT, &appData, &defaultQuickLaunch, "U",
         std::string(APP_DATA_DIR) + suffix},
        {"2000 reads the user's AppData", 1, 5, 0, NT, &appData, &defaultQuickLaunch, "U",
         std::string(APP_DATA_DIR) + suffix},
        {"6.0 on platform 1 reads AppData", 1, 6, 0, W9X, &appData, &defaultQuickLaunch, "U",
         std::string(APP_DATA_DIR) + suffix},
        {"98 reads the default user's value", 1, 4, 10, W9X, &appData, &defaultQuickLaunch, "D",
         defaultQuickLaunch},
        {"NT 4 reads the default user's value", 1, 4, 0, NT, &appData, &defaultQuickLaunch, "D",
         defaultQuickLaunch},
        {"NT reporting 10 is a catch-all below 6", 1, 10, 0, NT, &appData, &defaultQuickLaunch, "D",
         defaultQuickLaunch},
        {"failed version call takes the default route", 0, 5, 1, NT, &appData, &defaultQuickLaunch,
         "D", defaultQuickLaunch},
        {"no user key falls to the default", 1, 5, 1, NT, nullptr, &defaultQuickLaunch, "UD",
         defaultQuickLaunch},
        {"user key without AppData gives 0", 1, 5, 1, NT, &none, &defaultQuickLaunch, "U", ""},
        {"empty AppData gives 0", 1, 5, 1, NT, &emptyText, &defaultQuickLaunch, "U", ""},
        {"AppData without NUL is taken whole", 1, 5, 1, NT, &unterminated, &defaultQuickLaunch, "U",
         unterminated + suffix},
        {"AppData of 260 bytes without NUL gives 0", 1, 5, 1, NT, &fills260, &defaultQuickLaunch,
         "U", ""},
        {"AppData plus suffix at 259", 1, 5, 1, NT, &fits259, &defaultQuickLaunch, "U",
         fits259.substr(0, fits259.size() - 1) + suffix},
        {"AppData plus suffix at 260 gives 0", 1, 5, 1, NT, &over259, &defaultQuickLaunch, "U", ""},
        {"no default key gives 0", 1, 4, 10, W9X, &appData, nullptr, "D", ""},
        {"default key without value gives 0", 1, 4, 10, W9X, &appData, &none, "D", ""},
        {"neither key gives 0", 1, 5, 1, NT, nullptr, nullptr, "UD", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeRegistryReset();
        FakeShellSetVersion(row.succeeded, row.major, row.minor, row.platform);
        if (row.userValue == &none)
            FakeRegistryAddKey(REGISTRY_CURRENT_USER, USER_SHELL_FOLDERS);
        else if (row.userValue)
            FakeRegistrySetValue(REGISTRY_CURRENT_USER, USER_SHELL_FOLDERS, "AppData",
                                 *row.userValue);
        if (row.defaultValue == &none)
            FakeRegistryAddKey(REGISTRY_USERS, DEFAULT_MAP_GROUPS);
        else if (row.defaultValue)
            FakeRegistrySetValue(REGISTRY_USERS, DEFAULT_MAP_GROUPS, "Quick Launch",
                                 *row.defaultValue);

        char folder[PATH_TEXT_SIZE];
        std::memset(folder, 0xDD, sizeof folder);
        int result = GetQuickLaunchDir(folder);
        EXPECT_EQ(row.folder.empty() ? 0 : 1, result);
        EXPECT_EQ(row.folder, folder);

        std::string reads;
        for (const FakeRegistryOpen& read : FakeRegistryReads()) {
            EXPECT_EQ(REGISTRY_KEY_QUERY_VALUE, read.access);
            if (read.root == REGISTRY_CURRENT_USER && read.subKey == USER_SHELL_FOLDERS &&
                read.valueName == "AppData")
                reads += 'U';
            else if (read.root == REGISTRY_USERS && read.subKey == DEFAULT_MAP_GROUPS &&
                     read.valueName == "Quick Launch")
                reads += 'D';
            else
                reads += '?';
        }
        EXPECT_EQ(row.reads, reads);

        // The default user's value is the whole folder: the rest follows it directly.
        int resolved = -1;
        std::string path = Resolve("<QuickLaunch>\\App", &resolved);
        std::string expected = row.folder.empty() ? "" : row.folder + "\\App.lnk";
        EXPECT_EQ(expected.size() <= 259 ? expected : "", path);
    }
}

}  // namespace
