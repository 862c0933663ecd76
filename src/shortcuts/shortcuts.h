// SPDX-License-Identifier: MIT
// Shortcuts asked for by a package: creating them for an entry, moving or deleting old ones.
#pragma once

#include "outcome/outcome.h"

// Where each shortcut made and each move is reported, for the run's record; may be left out.
struct ShortcutReport {
    void (*report)(void* context, ItemKind kind, ItemOutcome outcome, const char* path,
                   const char* detail);
    void* context;
};

// Creates the shortcuts that the lines of an entry's `shortcutText` ask for, each starting
// `targetPath`. Returns 0 for an empty text, else 1; a line that yields no shortcut never
// stops the next one. A text with no NUL in its first 4096 bytes (the package field's width)
// makes no shortcut and gives 0.
//
// Lines are joined by CR LF only. In each line the first semicolon ends the shortcutSpec and the
// rest are the arguments; a line without a semicolon runs on into the next one.
// Each line's outcome goes to `report` when given (the link path, or the line itself where it has none).
int ApplyShortcutSpecs(const char* shortcutText, const char* targetPath,
                       const ShortcutReport* report = nullptr);

// Moves the shortcut named by the shortcutSpec `from` to the place named by `to`, or deletes it
// when `to` names no place (empty, no known tag, or a folder that cannot be found). The source is
// deleted only once the copy was made, and a `to` whose path would not fit leaves it alone,
// so a move that cannot be made never costs the shortcut. Neither shortcutSpec is trimmed.
// Returns 1. The outcome goes to `report` when given.
int MoveShortcut(const char* from, const char* to, const ShortcutReport* report = nullptr);

// The steps of ApplyShortcutSpecs, open to tests.

// Ends the text at `*cursor` after its last byte that is not a blank, double quote or
// semicolon, then moves `*cursor` past such bytes at its start.
void TrimSpec(char** cursor);

// Makes at most one shortcut for a trimmed shortcutSpec and trimmed arguments: the link path from
// the shortcutSpec, the target's folder as working directory, the shortcutSpec's text after its
// last backslash as description. A shortcutSpec that does not resolve, or whose working directory
// (259 characters) or description (255) would not fit, makes nothing. Returns 1.
int CreateShortcutFromSpec(const char* shortcutSpec, const char* arguments, const char* targetPath);

// Creates a shell link at `linkPath` unless anything exists there already. Returns 1 when a
// new shortcut was saved; 0 when something was there or the shell could not make it.
int CreateShortcut(const char* targetPath, const char* arguments, const char* linkPath,
                   const char* workingDir, const char* description);

// Creates `folder` and every missing parent, from the first backslash on, unless something by
// that name already opens. Failures are not reported. Returns 1.
int CreateFolderChain(const char* folder);
