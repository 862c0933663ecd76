// SPDX-License-Identifier: MIT
// The shell's folders behind the shortcut tags, and the Windows release that decides where the
// Quick Launch folder is recorded.
#pragma once

// Windows release classes. The numbers are codes, not an order of age (Me stands above XP).
// Kinds from OS_KIND_WIN2000 up find Quick Launch under the user's "AppData" folder; the kinds
// below read the default user's "Quick Launch" value.
enum OsKind : unsigned {
    OS_KIND_OLDER = 0,  // before Windows 95 and NT 4.0, and any release we cannot tell
    OS_KIND_WIN95 = 1,
    OS_KIND_NT4 = 2,
    OS_KIND_OTHER_9X = 3,
    OS_KIND_OTHER_NT = 4,
    OS_KIND_WIN98 = 5,
    OS_KIND_WIN2000 = 6,
    OS_KIND_XP = 7,
    OS_KIND_ME = 8,
    OS_KIND_SERVER2003 = 9,
    OS_KIND_VISTA = 10,  // and every later release that reports major version 6
};

constexpr unsigned OS_PLATFORM_WIN9X = 1;  // VER_PLATFORM_WIN32_WINDOWS
constexpr unsigned OS_PLATFORM_NT = 2;     // VER_PLATFORM_WIN32_NT

// Classifies the numbers of GetVersionExA. `succeeded` is 0 when the call failed; the numbers
// are then ignored and the result is OS_KIND_OLDER. A platform other than 1 and 2 with major
// version 4, 5 or 7 and up is OS_KIND_OLDER as well: a release we cannot tell takes the
// default user's Quick Launch value, the route that needs no per-user shell folder.
OsKind ClassifyOsKind(int succeeded, unsigned major, unsigned minor, unsigned platform);

// The running system's release class, asked afresh on every call.
OsKind GetOsKind();

// Shell special folder numbers (CSIDL) behind the tags.
constexpr int FOLDER_COMMON_PROGRAMS = 23;
constexpr int FOLDER_DESKTOP_DIRECTORY = 16;
constexpr int FOLDER_START_MENU = 11;
constexpr int FOLDER_STARTUP = 7;

// Each fills `folder` (PATH_TEXT_SIZE bytes) with its folder's path and returns 1, or returns
// 0 when the folder cannot be found. The special-folder lookups leave `folder` untouched on 0;
// GetQuickLaunchDir leaves the empty text in it.
int GetProgramMenuDir(char* folder);  // the all-users Start menu Programs folder
int GetDesktopDir(char* folder);      // the user's desktop folder
int GetStartMenuDir(char* folder);    // the user's Start menu
int GetStartUpDir(char* folder);      // the user's Startup folder

// On kinds from OS_KIND_WIN2000: the user's "AppData" shell folder followed by
// "\Microsoft\Internet Explorer\Quick Launch"; when that key does not open, and on the older
// kinds, the default user's "Quick Launch" group-mapping value as it stands. Returns 0 when the
// key it ends at does not open, its value is missing, empty or not terminated inside 260
// bytes, or the folder would not fit 259 characters.
int GetQuickLaunchDir(char* folder);

enum ShortcutPlace {
    SHORTCUT_PLACE_FOUND,     // the path is in the buffer
    SHORTCUT_PLACE_NONE,      // no known tag, or its folder cannot be found
    SHORTCUT_PLACE_TOO_LONG,  // the place exists but its path would not fit 259 characters
};

// ResolveShortcutPath telling why a shortcut name gave no path: a move treats a destination without
// a place as a request to delete, but one that merely does not fit must not cost the shortcut.
ShortcutPlace ResolveShortcutPlace(const char* shortcutSpec, char* path);

// Turns a shortcut name (a tag at its first byte, then the rest of the shortcut's path without
// ".lnk") into the shortcut file's full path in `path` (PATH_TEXT_SIZE bytes). Tags are tried
// in a fixed order without regard to ASCII case; one backslash at the end of the tag's folder
// is dropped, the rest is appended as it stands, then ".lnk". Returns 1 with the path; 0 with
// `path` untouched when no tag matches, the folder cannot be found or the path would not fit
// 259 characters.
int ResolveShortcutPath(const char* shortcutSpec, char* path);
