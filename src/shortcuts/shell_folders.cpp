// SPDX-License-Identifier: MIT
#include "shortcuts/shell_folders.h"

#include <cstring>

#include "base/registry.h"
#include "base/text.h"
#include "shortcuts/shell_seam.h"

OsKind ClassifyOsKind(int succeeded, unsigned major, unsigned minor, unsigned platform) {
    if (!succeeded) return OS_KIND_OLDER;
    if (major < 4) return OS_KIND_OLDER;
    // Every release that reports 6 is taken as Vista's kind, whatever its platform.
    if (major == 6) return OS_KIND_VISTA;
    if (platform != OS_PLATFORM_WIN9X && platform != OS_PLATFORM_NT) return OS_KIND_OLDER;
    int nt = platform == OS_PLATFORM_NT;
    if (major == 4) {
        if (nt) return OS_KIND_NT4;
        switch (minor) {
            case 0:
                return OS_KIND_WIN95;
            case 10:
                return OS_KIND_WIN98;
            case 90:
                return OS_KIND_ME;
            default:
                return OS_KIND_OTHER_9X;
        }
    }
    if (major == 5) {
        if (!nt) return OS_KIND_OTHER_9X;
        switch (minor) {
            case 0:
                return OS_KIND_WIN2000;
            case 1:
                return OS_KIND_XP;
            case 2:
                return OS_KIND_SERVER2003;
            default:
                return OS_KIND_OTHER_NT;
        }
    }
    return nt ? OS_KIND_OTHER_NT : OS_KIND_OTHER_9X;
}

OsKind GetOsKind() {
    unsigned major = 0, minor = 0, platform = 0;
    int succeeded = ReadVersionNumbers(&major, &minor, &platform);
    return ClassifyOsKind(succeeded, major, minor, platform);
}

int GetProgramMenuDir(char* folder) { return LookUpSpecialFolder(FOLDER_COMMON_PROGRAMS, folder); }
int GetDesktopDir(char* folder) { return LookUpSpecialFolder(FOLDER_DESKTOP_DIRECTORY, folder); }
int GetStartMenuDir(char* folder) { return LookUpSpecialFolder(FOLDER_START_MENU, folder); }
int GetStartUpDir(char* folder) { return LookUpSpecialFolder(FOLDER_STARTUP, folder); }

namespace {

const char SHELL_FOLDERS_KEY[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char MAP_GROUPS_KEY[] =
    ".DEFAULT\\Software\\Microsoft\\Windows\\CurrentVersion\\GrpConv\\MapGroups";
const char QUICK_LAUNCH_SUFFIX[] = "\\Microsoft\\Internet Explorer\\Quick Launch";

// Reads a folder from the registry into `folder` (PATH_TEXT_SIZE bytes). Returns
// REGISTRY_READ only for a non-empty one, since an empty folder would send a shortcut to the
// current drive's root; a value there that gives no folder counts as no value.
RegistryRead ReadFolderValue(RegistryRoot root, const char* subKey, const char* valueName,
                             char* folder) {
    RegistryRead read =
        ReadRegistryFolder(root, subKey, REGISTRY_KEY_QUERY_VALUE, valueName, folder);
    if (read == REGISTRY_NO_KEY) return read;
    if (read != REGISTRY_READ || folder[0] == '\0') {
        folder[0] = '\0';
        return REGISTRY_NO_VALUE;
    }
    return REGISTRY_READ;
}

}  // namespace

int GetQuickLaunchDir(char* folder) {
    folder[0] = '\0';
    if (GetOsKind() >= OS_KIND_WIN2000) {
        RegistryRead read =
            ReadFolderValue(REGISTRY_CURRENT_USER, SHELL_FOLDERS_KEY, "AppData", folder);
        if (read == REGISTRY_READ) {
            if (TextAppend(folder, PATH_TEXT_SIZE, QUICK_LAUNCH_SUFFIX)) return 1;
            folder[0] = '\0';
            return 0;
        }
        if (read == REGISTRY_NO_VALUE) return 0;
    }
    return ReadFolderValue(REGISTRY_USERS, MAP_GROUPS_KEY, "Quick Launch", folder) == REGISTRY_READ
               ? 1
               : 0;
}

namespace {

struct ShortcutTag {
    const char* name;
    int (*lookUp)(char* folder);
};

// "<StartMenu>" must be tried before "<StartUpMenu>"; they differ from the seventh byte on.
constexpr ShortcutTag SHORTCUT_TAGS[] = {
    {"<ProgramMenu>", GetProgramMenuDir}, {"<Desktop>", GetDesktopDir},
    {"<StartMenu>", GetStartMenuDir},     {"<StartUpMenu>", GetStartUpDir},
    {"<QuickLaunch>", GetQuickLaunchDir},
};

}  // namespace

ShortcutPlace ResolveShortcutPlace(const char* shortcutSpec, char* path) {
    const ShortcutTag* tag = nullptr;
    for (const ShortcutTag& candidate : SHORTCUT_TAGS) {
        if (BeginsWithName(shortcutSpec, candidate.name)) {
            tag = &candidate;
            break;
        }
    }
    if (!tag) return SHORTCUT_PLACE_NONE;

    char working[PATH_TEXT_SIZE] = {};
    if (!tag->lookUp(working)) return SHORTCUT_PLACE_NONE;
    // The lookups promise a terminated text; never trust that past the buffer.
    std::size_t length = TextLength(working, PATH_TEXT_SIZE);
    if (length == PATH_TEXT_SIZE) return SHORTCUT_PLACE_TOO_LONG;
    DropTrailingBackslash(working);
    if (!TextAppend(working, sizeof working, shortcutSpec + std::strlen(tag->name)) ||
        !TextAppend(working, sizeof working, ".lnk"))
        return SHORTCUT_PLACE_TOO_LONG;
    std::memcpy(path, working, std::strlen(working) + 1);
    return SHORTCUT_PLACE_FOUND;
}

int ResolveShortcutPath(const char* shortcutSpec, char* path) {
    return ResolveShortcutPlace(shortcutSpec, path) == SHORTCUT_PLACE_FOUND ? 1 : 0;
}
