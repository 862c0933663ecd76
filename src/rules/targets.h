// Where a packaged file goes: the install folder from the registry, and an entry's target.
#pragma once

#include "package/package.h"

// Fills `installDir` (PATH_TEXT_SIZE bytes) from the header's registryKey, valueName,
// subFolder and defaultFolder. Returns 1 with the install folder in the buffer; 0 when no
// install folder can be given (the buffer then holds the empty text, and targets under
// "<InstallDir>" must not be resolved).
int ResolveInstallDir(const PackageImage& image, const PackageHeader& header, char* installDir);

// Composes the full target path of a file: base folder of `folder`'s placeholder, the rest of
// `folder`, a backslash, `fileName`. `installDir` may be null when ResolveInstallDir gave 0.
// Returns 1 with the path in `targetPath` (PATH_TEXT_SIZE bytes); 0 with `targetPath`
// untouched when `folder` begins with no file placeholder, the placeholder's base folder is
// unknown, or the path would not fit 259 characters.
int ResolveTargetPath(const char* fileName, const char* folder, const char* installDir,
                      char* targetPath);
