// SPDX-License-Identifier: MIT
#include <windows.h>

#include "base/text.h"
#include "rules/rules_seam.h"

// Both calls give the length on success, 0 on failure and the size needed when it does not fit.
static int FolderResult(UINT length, char* folder) {
    if (length == 0 || length >= PATH_TEXT_SIZE) {
        folder[0] = '\0';
        return 0;
    }
    return 1;
}

int GetWindowsFolder(char* folder) {
    return FolderResult(GetWindowsDirectoryA(folder, PATH_TEXT_SIZE), folder);
}

int GetSystemFolder(char* folder) {
    return FolderResult(GetSystemDirectoryA(folder, PATH_TEXT_SIZE), folder);
}

int InstallFolderExists(const char* folder) {
    DWORD attributes = GetFileAttributesA(folder);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}
