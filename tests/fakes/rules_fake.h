// SPDX-License-Identifier: MIT
// Host stand-in for the Windows and system folders of rules/rules_seam.h.
#pragma once

// Sets what GetWindowsFolder and GetSystemFolder give; null makes that call fail.
void FakeSetWindowsFolders(const char* windowsFolder, const char* systemFolder);
// Makes InstallFolderExists give 0 for `folder` (null: for none) and 1 for every other.
void FakeSetMissingFolder(const char* folder);
// Back to C:\WINDOWS and C:\WINDOWS\system32, every folder there.
void FakeResetWindowsFolders();
