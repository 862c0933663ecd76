// SPDX-License-Identifier: MIT
/* A DLL that carries only resources: version blocks, or the package host's string table. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
