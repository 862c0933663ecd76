// SPDX-License-Identifier: MIT
// Folders that Windows names (the temporary folder, the shell folders) as the program's ANSI
// calls must be given them. Windows' own names are Unicode; a user name such as 田中 on a
// Western system cannot be spelt in its code page, and the ANSI calls would give "?" for it.
#pragma once

#include <windows.h>

// `path` in the ANSI code page, in `ansi` (PATH_TEXT_SIZE bytes): the path itself where the
// code page can spell it, else its short (8.3) form, which is plain ASCII where the volume keeps
// short names. 0, with `ansi` empty, when neither can be spelt or fits.
int SystemPathToAnsi(const wchar_t* path, char* ansi);

// 1 when Windows can carry out a rename or delete of `path` left to the next restart: its
// volume is a local fixed or removable drive. Session Manager runs before the network is up, so
// an entry for a share is never done.
int RenamesAtRestart(const char* path);
