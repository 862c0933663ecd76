// Shortcuts asked for by a package: creating them for an entry, moving or deleting old ones.
#pragma once

// Creates the shortcuts that the lines of an entry's `shortcutText` ask for, each starting
// `targetPath`. Returns 0 for an empty text, else 1; a line that yields no shortcut never
// stops the next one.
int ApplyShortcutSpecs(const char* shortcutText, const char* targetPath);

// Moves the shortcut named by the spec `from` to the place named by `to`, or deletes it when
// `to` does not resolve. Returns 1.
int MoveShortcut(const char* from, const char* to);
