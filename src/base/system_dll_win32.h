// SPDX-License-Identifier: MIT
// DLLs that are not KnownDLLs (version.dll, comctl32.dll) are loaded here, by their full path
// in the system folder, never through the search order: an update program is often started
// elevated from a downloads folder that anyone could have put a DLL of that name into.
#pragma once

#include <windows.h>

// Limits every later DLL search of the process to the system folder: through
// SetDefaultDllDirectories where Windows has it (Vista and 7 with KB2533623, 8 and later),
// else SetDllDirectoryA("") takes at least the current folder out of the search. Call it first.
// Returns 1 when every search is limited; on 0, give PreloadSystemDlls (system_dll.h) the 0.
int RestrictDllSearch();

// The system folder's `name` (for example "version.dll"), loaded for the rest of the process;
// null when it cannot be loaded. Each call adds a reference: callers keep what they resolve.
HMODULE LoadSystemDll(const char* name);

// `procName` of the system folder's `name`, or null.
FARPROC GetSystemDllProc(const char* name, const char* procName);
