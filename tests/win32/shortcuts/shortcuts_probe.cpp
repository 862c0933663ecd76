// SPDX-License-Identifier: MIT
// Writes one line to the file named by its argument: the version numbers GetVersionExA gave,
// the OsKind, GetQuickLaunchDir's result and its folder, separated by '|'.
#include <windows.h>

#include <cstdio>

#include "base/text.h"
#include "shortcuts/shell_folders.h"
#include "shortcuts/shell_seam.h"

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    unsigned major = 0, minor = 0, platform = 0;
    int succeeded = ReadVersionNumbers(&major, &minor, &platform);
    char folder[PATH_TEXT_SIZE];
    int found = GetQuickLaunchDir(folder);
    FILE* out = std::fopen(argv[1], "wb");
    if (!out) return 3;
    std::fprintf(out, "%d|%u|%u|%u|%u|%d|%s", succeeded, major, minor, platform,
                 static_cast<unsigned>(GetOsKind()), found, folder);
    std::fclose(out);
    return 0;
}
