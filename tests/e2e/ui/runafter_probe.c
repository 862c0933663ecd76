// SPDX-License-Identifier: MIT
/* A run-after program for the e2e cases: writes "folder=<its current folder>" and
 * "errormode=<the error mode it started with>" to probe-report.txt beside itself, then stays
 * while probe-hold is there beside it, so that a case can act while the run waits for it (at
 * most ten minutes: long enough for a loaded machine, and it still ends if its case died).
 * With probe-window beside it, it shows a window meanwhile, as a vendor's "start the product
 * again" does. */
#include <windows.h>

#include <stdio.h>

static int BesideMe(const char* name, char* path) {
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 0;
    char* slash = path + length;
    while (slash > path && slash[-1] != '\\') --slash;
    if ((size_t)(slash - path) + lstrlenA(name) >= MAX_PATH) return 0;
    lstrcpyA(slash, name);
    return 1;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    (void)previous, (void)commandLine, (void)show;
    UINT errorMode = SetErrorMode(0);  // the mode it was given; XP has no GetErrorMode
    char folder[MAX_PATH], report[MAX_PATH], hold[MAX_PATH], text[2 * MAX_PATH];
    DWORD length = GetCurrentDirectoryA(MAX_PATH, folder);
    if (length == 0 || length >= MAX_PATH || !BesideMe("probe-report.txt", report) ||
        !BesideMe("probe-hold", hold))
        return 1;
    int size = snprintf(text, sizeof text, "folder=%s\r\nerrormode=%u\r\n", folder, errorMode);
    HANDLE file = CreateFileA(report, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written;
    WriteFile(file, text, (DWORD)size, &written, NULL);
    CloseHandle(file);
    char windowFlag[MAX_PATH];
    if (BesideMe("probe-window", windowFlag) &&
        GetFileAttributesA(windowFlag) != INVALID_FILE_ATTRIBUTES) {
        HWND window = CreateWindowExA(0, "STATIC", "Probe", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                      200, 100, NULL, NULL, instance, NULL);
        (void)window;
    }
    for (int i = 0; i < 12000 && GetFileAttributesA(hold) != INVALID_FILE_ATTRIBUTES; ++i) {
        MSG message;
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        Sleep(50);
    }
    return 0;
}
