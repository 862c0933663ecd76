// SPDX-License-Identifier: MIT
// What the target rules need from the platform besides the registry (base/registry.h).
#pragma once

// Fill `folder` (PATH_TEXT_SIZE bytes) with the Windows folder or the Windows system folder.
// Return 1 with the path; 0 when the platform gives none or it does not fit.
int GetWindowsFolder(char* folder);
int GetSystemFolder(char* folder);

// 1 when `folder` names an existing folder.
int InstallFolderExists(const char* folder);
