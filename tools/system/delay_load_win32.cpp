// SPDX-License-Identifier: MIT
// bcrypt.dll and crypt32.dll are no KnownDLLs: imported plainly, Windows would load a copy
// lying beside tidepack.exe, in whatever folder the zip was unpacked to (a Downloads folder,
// a shared tools share). They are delay-loaded instead, and this hook loads each by its full
// path in System32 before the loader's own search can.
#include <windows.h>
#include <delayimp.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

FARPROC WINAPI LoadFromSystemFolder(unsigned notify, PDelayLoadInfo info) {
    if (notify != dliNotePreLoadLibrary || !info || !info->szDll) return nullptr;
    wchar_t folder[MAX_PATH];
    UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    std::wstring path(folder, length);
    path += L'\\';
    for (const char* c = info->szDll; *c; ++c) path += static_cast<wchar_t>(*c);  // ASCII names
    // Returning no module would let the helper search the usual way: fail instead.
    // Their own imports (crypt32 takes bcrypt) are searched for beside them, not beside us.
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) {
        std::fprintf(stderr, "tidepack: cannot load %s from the system folder\n", info->szDll);
        std::exit(1);
    }
    return reinterpret_cast<FARPROC>(module);
}

}  // namespace

extern "C" {
PfnDliHook __pfnDliNotifyHook2 = LoadFromSystemFolder;
}
