// SPDX-License-Identifier: MIT
#include "base/system_dll_win32.h"

#include "base/system_dll.h"
#include "base/text.h"

namespace {

// Not in XP's headers; the value is Windows' own.
constexpr DWORD SEARCH_SYSTEM32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32

using SetDefaultDllDirectoriesProc = BOOL(WINAPI*)(DWORD);
using SetDllDirectoryProc = BOOL(WINAPI*)(LPCSTR);

}  // namespace

int RestrictDllSearch() {
    // kernel32 is always loaded and is a KnownDLL: looking it up cannot load anything.
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (!kernel) return 0;
    auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesProc>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefault && setDefault(SEARCH_SYSTEM32)) return 1;
    auto setDirectory = reinterpret_cast<SetDllDirectoryProc>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDllDirectoryA")));
    if (setDirectory) setDirectory("");
    return 0;
}

HMODULE LoadSystemDll(const char* name) {
    char path[PATH_TEXT_SIZE];
    UINT length = GetSystemDirectoryA(path, sizeof path);
    if (length == 0 || length >= sizeof path) return nullptr;
    if (!TextAppend(path, sizeof path, "\\") || !TextAppend(path, sizeof path, name))
        return nullptr;
    // Altered search: the DLL's own imports are looked for beside it, in the system folder,
    // not beside this program. A second load of the same path only counts a reference.
    return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

FARPROC GetSystemDllProc(const char* name, const char* procName) {
    HMODULE module = LoadSystemDll(name);
    return module ? GetProcAddress(module, procName) : nullptr;
}

int LoadSystemDllByPath(const char* name) { return LoadSystemDll(name) ? 1 : 0; }
