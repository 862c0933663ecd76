// SPDX-License-Identifier: MIT
#include "shortcuts/shortcuts.h"

#include <cstring>

#include "base/text.h"
#include "shortcuts/shell_folders.h"
#include "shortcuts/shell_seam.h"

namespace {

int IsStripByte(char c) { return c == ' ' || c == '"' || c == ';'; }

// The folder part of `path` (up to its last backslash) into `folder` (PATH_TEXT_SIZE bytes).
// Returns 0 when the path has no backslash and so names no folder to create.
int FolderOf(const char* path, char* folder) {
    const char* last = FindLastBackslash(path);
    if (!last) return 0;
    std::size_t length = static_cast<std::size_t>(last - path);
    if (length >= PATH_TEXT_SIZE) return 0;
    std::memcpy(folder, path, length);
    folder[length] = '\0';
    return 1;
}

}  // namespace

void TrimSpec(char** cursor) {
    char* text = *cursor;
    std::size_t length = std::strlen(text);
    while (length > 0 && IsStripByte(text[length - 1])) --length;
    text[length] = '\0';
    while (IsStripByte(*text)) ++text;
    *cursor = text;
}

int ApplyShortcutSpecs(const char* shortcutText, const char* targetPath) {
    if (shortcutText[0] == '\0') return 0;
    // The working copy has the package field's width; a text that does not end inside it is
    // not one the package could hold.
    std::size_t length = TextLength(shortcutText, SHORTCUT_TEXT_SIZE);
    if (length == SHORTCUT_TEXT_SIZE) return 0;
    char copy[SHORTCUT_TEXT_SIZE];
    std::memcpy(copy, shortcutText, length + 1);

    char* line = copy;
    char* semicolon = std::strchr(line, ';');
    while (semicolon) {
        *semicolon = '\0';
        char* arguments = semicolon + 1;
        char* next = std::strstr(arguments, "\r\n");
        if (next) {
            *next = '\0';
            next += 2;
        }
        char* shortcutSpec = line;
        TrimSpec(&shortcutSpec);
        TrimSpec(&arguments);
        CreateShortcutFromSpec(shortcutSpec, arguments, targetPath);
        if (!next) break;
        line = next;
        semicolon = std::strchr(line, ';');
    }
    return 1;
}

int CreateShortcutFromSpec(const char* shortcutSpec, const char* arguments,
                           const char* targetPath) {
    char linkPath[PATH_TEXT_SIZE] = {};
    char workingDir[PATH_TEXT_SIZE] = {};
    char description[DESCRIPTION_SIZE] = {};
    if (!ResolveShortcutPath(shortcutSpec, linkPath)) return 1;

    // Every text is made before anything on disk changes, so a line that cannot be made
    // leaves no folders behind.
    if (!TextCopy(workingDir, sizeof workingDir, targetPath)) return 1;
    char* lastBackslash = const_cast<char*>(FindLastBackslash(workingDir));
    if (lastBackslash) *lastBackslash = '\0';
    const char* name = FindLastBackslash(shortcutSpec);
    if (name && !TextCopy(description, sizeof description, name + 1)) return 1;

    char folder[PATH_TEXT_SIZE];
    if (FolderOf(linkPath, folder)) CreateFolderChain(folder);
    CreateShortcut(targetPath, arguments, linkPath, workingDir, description);
    return 1;
}

int CreateShortcut(const char* targetPath, const char* arguments, const char* linkPath,
                   const char* workingDir, const char* description) {
    // An existing shortcut is the user's: never replaced, even when it differs.
    if (ShortcutPathExists(linkPath)) return 0;
    return SaveShellLink(targetPath, arguments, linkPath, workingDir, description);
}

int CreateFolderChain(const char* folder) {
    if (ShortcutFolderOpens(folder)) return 1;
    char prefix[1024];
    for (const char* cut = FindBackslash(folder); cut; cut = FindBackslash(cut + 1)) {
        std::size_t length = static_cast<std::size_t>(cut - folder);
        if (length >= sizeof prefix) break;
        std::memset(prefix, 0, sizeof prefix);
        std::memcpy(prefix, folder, length);
        // A prefix that exists, a bare drive or the empty text before a leading backslash
        // fails here and the walk goes on.
        MakeShortcutFolder(prefix);
    }
    MakeShortcutFolder(folder);
    return 1;
}

int MoveShortcut(const char* from, const char* to) {
    char source[PATH_TEXT_SIZE];
    char destination[PATH_TEXT_SIZE];
    if (!ResolveShortcutPath(from, source)) return 1;
    switch (ResolveShortcutPlace(to, destination)) {
        case SHORTCUT_PLACE_FOUND:
            break;
        case SHORTCUT_PLACE_NONE:
            DeleteShortcutFile(source);
            return 1;
        case SHORTCUT_PLACE_TOO_LONG:
            return 1;
    }
    char folder[PATH_TEXT_SIZE];
    if (FolderOf(destination, folder)) CreateFolderChain(folder);
    if (CopyShortcutFile(source, destination)) DeleteShortcutFile(source);
    return 1;
}
