// SPDX-License-Identifier: MIT
/* A DLL planted beside the program under test, built as version.dll, comctl32.dll and
 * zlib1.dll. Loaded into a process, it leaves "<its own path>.loaded" beside itself, so a test
 * can tell whether the program picked it up. Its exports have the names the program would look
 * for; none of them does anything. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        char path[MAX_PATH + 8];
        DWORD length = GetModuleFileNameA(instance, path, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            lstrcatA(path, ".loaded");
            HANDLE marker = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, NULL);
            if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
        }
    }
    return TRUE;
}

DWORD WINAPI PlantedGetFileVersionInfoSizeA(LPCSTR path, LPDWORD handle) {
    (void)path;
    if (handle) *handle = 0;
    return 0;
}

BOOL WINAPI PlantedGetFileVersionInfoA(LPCSTR path, DWORD handle, DWORD size, LPVOID block) {
    (void)path, (void)handle, (void)size, (void)block;
    return FALSE;
}

BOOL WINAPI PlantedVerQueryValueA(LPCVOID block, LPCSTR sub, LPVOID* value, PUINT length) {
    (void)block, (void)sub, (void)value, (void)length;
    return FALSE;
}

void WINAPI PlantedInitCommonControls(void) {}

int PlantedUncompress(void* dest, void* destLength, const void* source, unsigned long length) {
    (void)dest, (void)destLength, (void)source, (void)length;
    return -3;
}
