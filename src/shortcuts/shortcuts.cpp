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

void Report(const ShortcutReport* report, ItemKind kind, ItemOutcome outcome, const char* path,
            const char* detail) {
    if (report) report->report(report->context, kind, outcome, path, detail);
}

// CreateShortcutFromSpec's steps, with the outcome of the line; `linkPath` holds the link's
// path once the line's folder resolved.
ItemOutcome MakeShortcut(const char* shortcutSpec, const char* arguments, const char* targetPath,
                         char* linkPath) {
    char workingDir[PATH_TEXT_SIZE] = {};
    char description[DESCRIPTION_SIZE] = {};
    if (!ResolveShortcutPath(shortcutSpec, linkPath)) return OUTCOME_NO_PLACE;

    // Every text is made before anything on disk changes, so a line that cannot be made
    // leaves no folders behind.
    if (!TextCopy(workingDir, sizeof workingDir, targetPath)) return OUTCOME_NOT_CREATED;
    char* lastBackslash = const_cast<char*>(FindLastBackslash(workingDir));
    if (lastBackslash) *lastBackslash = '\0';
    const char* name = FindLastBackslash(shortcutSpec);
    if (name && !TextCopy(description, sizeof description, name + 1)) return OUTCOME_NOT_CREATED;

    char folder[PATH_TEXT_SIZE];
    if (FolderOf(linkPath, folder)) CreateFolderChain(folder);
    // An existing shortcut is the user's: never replaced, even when it differs.
    if (ShortcutPathExists(linkPath)) return OUTCOME_EXISTS;
    return SaveShellLink(targetPath, arguments, linkPath, workingDir, description)
               ? OUTCOME_CREATED
               : OUTCOME_NOT_CREATED;
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

int ApplyShortcutSpecs(const char* shortcutText, const char* targetPath,
                       const ShortcutReport* report) {
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
        char linkPath[PATH_TEXT_SIZE] = {};
        ItemOutcome outcome = MakeShortcut(shortcutSpec, arguments, targetPath, linkPath);
        Report(report, ITEM_SHORTCUT, outcome, linkPath[0] ? linkPath : shortcutSpec, targetPath);
        if (!next) break;
        line = next;
        semicolon = std::strchr(line, ';');
    }
    return 1;
}

int CreateShortcutFromSpec(const char* shortcutSpec, const char* arguments,
                           const char* targetPath) {
    char linkPath[PATH_TEXT_SIZE] = {};
    MakeShortcut(shortcutSpec, arguments, targetPath, linkPath);
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

int MoveShortcut(const char* from, const char* to, const ShortcutReport* report) {
    char source[PATH_TEXT_SIZE];
    char destination[PATH_TEXT_SIZE];
    if (!ResolveShortcutPath(from, source)) {
        Report(report, ITEM_MOVE, OUTCOME_NOTHING_TO_MOVE, from, to);
        return 1;
    }
    int there = ShortcutPathExists(source);
    switch (ResolveShortcutPlace(to, destination)) {
        case SHORTCUT_PLACE_FOUND:
            break;
        case SHORTCUT_PLACE_NONE:
            DeleteShortcutFile(source);
            Report(report, ITEM_MOVE,
                   !there                       ? OUTCOME_NOTHING_TO_MOVE
                   : ShortcutPathExists(source) ? OUTCOME_NOT_MOVED
                                                : OUTCOME_DELETED,
                   source, to);
            return 1;
        case SHORTCUT_PLACE_TOO_LONG:
            Report(report, ITEM_MOVE, there ? OUTCOME_NOT_MOVED : OUTCOME_NOTHING_TO_MOVE, source,
                   to);
            return 1;
    }
    char folder[PATH_TEXT_SIZE];
    if (FolderOf(destination, folder)) CreateFolderChain(folder);
    ItemOutcome outcome = there ? OUTCOME_NOT_MOVED : OUTCOME_NOTHING_TO_MOVE;
    if (CopyShortcutFile(source, destination)) {
        DeleteShortcutFile(source);
        outcome = OUTCOME_MOVED;
    }
    Report(report, ITEM_MOVE, outcome, source, destination);
    return 1;
}
