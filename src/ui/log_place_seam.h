// SPDX-License-Identifier: MIT
// What choosing and opening the log needs from Windows. log_place_win32.cpp makes these the
// real calls; host tests link tests/fakes/log_place_fake.cpp.
#pragma once

// 1 when the run is elevated: then every place is checked, since a standard user may have
// prepared it.
int LogElevated();

// `asked` with its environment variables expanded and made a full path, in `path`
// (LOG_PATH_SIZE characters). 0 when it does not fit.
int ExpandLogPath(const wchar_t* asked, wchar_t* path);

// The folder a log goes to by default, without a trailing backslash, in `folder`
// (LOG_PATH_SIZE characters): `common` 1 for ProgramData, 0 for the user's temporary folder.
int DefaultLogFolder(int common, wchar_t* folder);

enum LogFolderState {
    LOG_FOLDER_MADE,    // made now, with the run's own permissions when `protect` was asked
    LOG_FOLDER_THERE,   // a plain folder already (no link, no junction)
    LOG_FOLDER_FAILED,  // neither: its error in `*error`
};

// Makes the one folder `folder`, whose parent exists. `protect`: SYSTEM and Administrators
// full control, Users read, nothing inherited from above.
LogFolderState MakeLogFolder(const wchar_t* folder, int protect, unsigned long* error);

// 1 when `folder` is owned by SYSTEM or Administrators (or by the owner of Windows' own folder,
// TrustedInstaller): no standard user made it.
int LogFolderOwnerTrusted(const wchar_t* folder);

// Opens the plain file `path` (one name, no link) for appending: an existing one, or with
// `createNew` only a new one. The file, with its size in `*size`; null with the error in `*error`.
void* OpenLogFile(const wchar_t* path, int createNew, unsigned long long* size,
                  unsigned long* error);

// 1 when the open `file` is `path` itself and not reached through a link or junction on the way;
// also 1 where Windows cannot tell (before Vista).
int LogFinalPathIs(void* file, const wchar_t* path);

// Renames `from` to `to`, replacing it. 1 when done.
int RenameLogFile(const wchar_t* from, const wchar_t* to);

void CloseLogFile(void* file);
