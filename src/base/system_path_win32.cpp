// SPDX-License-Identifier: MIT
#include "base/system_path_win32.h"

#include "base/text.h"

namespace {

// 1 when `wide` converts to the ANSI code page without a character lost or replaced.
int ConvertsWhole(const wchar_t* wide, char* ansi) {
    BOOL lossy = FALSE;
    // UTF-8 as the ANSI code page spells everything, and takes neither flag nor question.
    int utf8 = GetACP() == CP_UTF8;
    int length = WideCharToMultiByte(CP_ACP, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, wide, -1, ansi,
                                     PATH_TEXT_SIZE, nullptr, utf8 ? nullptr : &lossy);
    return length > 0 && !lossy;
}

}  // namespace

int SystemPathToAnsi(const wchar_t* path, char* ansi) {
    if (ConvertsWhole(path, ansi)) return 1;
    wchar_t shortPath[PATH_TEXT_SIZE];
    DWORD length = GetShortPathNameW(path, shortPath, PATH_TEXT_SIZE);
    if (length > 0 && length < PATH_TEXT_SIZE && ConvertsWhole(shortPath, ansi)) return 1;
    ansi[0] = '\0';
    return 0;
}

int RenamesAtRestart(const char* path) {
    char volume[MAX_PATH];
    if (!GetVolumePathNameA(path, volume, MAX_PATH)) return 0;
    UINT type = GetDriveTypeA(volume);
    return type == DRIVE_FIXED || type == DRIVE_REMOVABLE;
}
