// SPDX-License-Identifier: MIT
// DLLs that Windows' own DLLs load by name, loaded first by their full path where Windows
// cannot keep the program's folder out of every DLL search.
#pragma once

// Loads the system folder's `name` (such as "uxtheme.dll") by its full path for the rest of
// the process. Returns 1 when it is loaded. The real side is system_dll_win32.cpp; host tests
// link tests/fakes/system_fake.cpp.
int LoadSystemDllByPath(const char* name);

// Without SetDefaultDllDirectories (XP, Vista, 7 without its 2011 loader update) the program's
// own folder, often a Downloads folder anyone can write to, is searched first whenever the
// shell, COM or the common controls load a DLL by name. `searchLimited` 0 says so: every DLL
// they load by name on those releases is loaded from the system folder now, so later loads by
// name find it loaded. A DLL that release lacks is skipped. Call it before the dialog opens.
void PreloadSystemDlls(int searchLimited);
