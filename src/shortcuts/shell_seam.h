// SPDX-License-Identifier: MIT
// What the shortcut logic needs from the shell, the file system and the system version.
// The real side is shell_win32.cpp; host tests link tests/fakes/shell_fake.cpp instead.
#pragma once

// Fills `folder` (PATH_TEXT_SIZE bytes) with the file-system path of the shell's special
// folder `folderNumber` (a CSIDL). Returns 1 with the path; 0 with `folder` untouched.
int LookUpSpecialFolder(int folderNumber, char* folder);

// The major and minor version and the platform id of the running system. Returns 1 when the
// system gave them; on 0 the outputs are not written.
int ReadVersionNumbers(unsigned* major, unsigned* minor, unsigned* platform);

// 1 when anything (file or folder) exists at `path`.
int ShortcutPathExists(const char* path);

// 1 when `folder` can be opened as it is, folder or file alike.
int ShortcutFolderOpens(const char* folder);

// Creates one folder whose parent must exist; a failure is not reported.
void MakeShortcutFolder(const char* path);

// Copies `source` over `destination`, replacing a file there. Returns 1 when the copy was made.
int CopyShortcutFile(const char* source, const char* destination);

// Deletes the file at `path`; a failure is not reported.
void DeleteShortcutFile(const char* path);

// Saves a new shell link at `linkPath` that starts `targetPath` with `arguments` in
// `workingDir`, described by `description`; nothing else is set on it. Returns 1 when it was
// saved, 0 when any step failed (nothing is left behind but what the shell wrote).
int SaveShellLink(const char* targetPath, const char* arguments, const char* linkPath,
                  const char* workingDir, const char* description);
