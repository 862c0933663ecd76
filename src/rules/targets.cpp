// SPDX-License-Identifier: MIT
// File targets: a placeholder's base folder, the rest of the folder text and the file name.
#include <cstring>

#include "base/text.h"
#include "rules/rules_seam.h"
#include "rules/targets.h"

namespace {

enum BaseFolder { BASE_INSTALL_DIR, BASE_WINDOWS_DIR, BASE_SYSTEM_DIR };

struct Placeholder {
    const char* name;
    BaseFolder base;
};

constexpr Placeholder FILE_PLACEHOLDERS[] = {
    {"<InstallDir>", BASE_INSTALL_DIR},
    {"<WindowsDir>", BASE_WINDOWS_DIR},
    {"<SystemDir>", BASE_SYSTEM_DIR},
};

int FillBaseFolder(BaseFolder base, const char* installDir, char* folder) {
    switch (base) {
        case BASE_INSTALL_DIR:
            return installDir != nullptr && TextCopy(folder, PATH_TEXT_SIZE, installDir);
        case BASE_WINDOWS_DIR:
            return GetWindowsFolder(folder);
        case BASE_SYSTEM_DIR:
            return GetSystemFolder(folder);
    }
    return 0;
}

}  // namespace

int ResolveTargetPath(const char* fileName, const char* folder, const char* installDir,
                      char* targetPath) {
    const Placeholder* placeholder = nullptr;
    for (const Placeholder& candidate : FILE_PLACEHOLDERS) {
        if (BeginsWithName(folder, candidate.name)) {
            placeholder = &candidate;
            break;
        }
    }
    if (placeholder == nullptr) return 0;

    char base[PATH_TEXT_SIZE];
    base[0] = '\0';
    if (!FillBaseFolder(placeholder->base, installDir, base)) return 0;
    base[PATH_TEXT_SIZE - 1] = '\0';
    // One backslash only: a drive root C:\ becomes C:, so that the separator below is the only one.
    DropTrailingBackslash(base);

    const char* rest = folder + std::strlen(placeholder->name);
    char path[PATH_TEXT_SIZE];
    if (!TextFormat(path, sizeof path, "%s%s\\%s", base, rest, fileName)) return 0;
    std::memcpy(targetPath, path, std::strlen(path) + 1);
    return 1;
}
