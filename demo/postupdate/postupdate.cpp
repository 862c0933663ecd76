// SPDX-License-Identifier: MIT
// Run by the update after every file is in place: notes the update in update.log beside
// itself, one line per run, and ends.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) return 1;
    char* slash = path + length;
    while (slash > path && slash[-1] != '\\') --slash;
    const char name[] = "update.log";
    if (static_cast<size_t>(slash - path) + sizeof name > sizeof path) return 1;
    for (size_t i = 0; i < sizeof name; ++i) slash[i] = name[i];

    HANDLE log = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE) return 1;
    const char line[] = "Shiosai Notes " DEMO_VERSION_TEXT ": post-update step ran\r\n";
    DWORD written;
    BOOL ok = WriteFile(log, line, sizeof line - 1, &written, nullptr);
    CloseHandle(log);
    return ok && written == sizeof line - 1 ? 0 : 1;
}
