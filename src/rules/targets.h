// SPDX-License-Identifier: MIT
// Where a packaged file goes: the install folder from the registry, and an entry's target.
#pragma once

#include "package/package.h"

// Fills `installDir` (PATH_TEXT_SIZE bytes) from the header's registryKey, valueName,
// subFolder and defaultFolder. Returns 1 with the install folder in the buffer; 0 when no
// install folder can be given (the buffer then holds the empty text, and targets under
// "<InstallDir>" must not be resolved).
//
// The key is chosen by the root name at the start of registryKey (HKEY_LOCAL_MACHINE,
// HKEY_CURRENT_USER, HKEY_CLASSES_ROOT, any case); the sub-key is registryKey from the
// character after the name's separator on, and a key with no root name is read under
// HKEY_LOCAL_MACHINE with its first 19 characters skipped. A key that does not open, a value
// that is missing, longer than 260 bytes or 0 bytes long gives defaultFolder verbatim. A value
// read gives its text, then a backslash and subFolder when subFolder is not empty.
//
// 0 is given, rather than defaultFolder or a cut-off text, when the folder the registry names
// cannot be held in 259 characters: a value of 260 bytes without a zero byte, or a value that
// with the backslash and subFolder would be longer. Writing the product's files into a folder
// the registry did not name is worse than writing none. 0 is also given when defaultFolder is
// needed but does not fit, or when a header text has no NUL before the image ends.
int ResolveInstallDir(const PackageImage& image, const PackageHeader& header, char* installDir);

// The same, with the registry view the folder was read in: 0, or REGISTRY_KEY_64_BIT_VIEW when
// only the 64-bit view had it (where the product's own registry values are then written); 0
// for defaultFolder.
// Where the install folder came from, for the log.
struct InstallDirSource {
    int fromRegistry;  // 1: the registry value named it (in `view`); 0: the default folder
    unsigned view;
};
int ResolveInstallDirView(const PackageImage& image, const PackageHeader& header, char* installDir,
                          unsigned* view, InstallDirSource* source = nullptr);

// Composes the full target path of a file: base folder of `folder`'s placeholder, the rest of
// `folder`, a backslash, `fileName`. `installDir` may be null when ResolveInstallDir gave 0.
// Returns 1 with the path in `targetPath` (PATH_TEXT_SIZE bytes); 0 with `targetPath`
// untouched when `folder` begins with no file placeholder, the placeholder's base folder is
// unknown, or the path would not fit 259 characters.
//
// `fileName` and `folder` must be terminated texts (the caller checks package fields with
// PackageText). One trailing backslash of the base folder is dropped; the rest and the file
// name are used unchanged.
int ResolveTargetPath(const char* fileName, const char* folder, const char* installDir,
                      char* targetPath);
