// SPDX-License-Identifier: MIT
// What the Wine tests of the apply run share: folders and files of their own, and a module
// that carries a package as its RCDATA 1, the way the program carries its own.
#pragma once

#include <windows.h>

#include <set>
#include <string>
#include <vector>

// The folder of the running test program, where its fixtures lie (no trailing backslash).
std::string ProgramFolder();
// The user's temporary folder, with its trailing backslash.
std::string TempFolder();
// A new empty folder for one test under the temporary folder; `tag` may hold blanks.
std::string MakeTestFolder(const std::string& tag);
// Deletes the folder and everything in it, read-only files included.
void RemoveTree(const std::string& folder);

std::vector<unsigned char> ReadBytes(const std::string& path);
int WriteBytes(const std::string& path, const std::vector<unsigned char>& bytes);
int Exists(const std::string& path);
// Names (not paths) of the files in `folder` that match `pattern`, such as "vq*.tmp".
std::set<std::string> FilesIn(const std::string& folder, const std::string& pattern);

// A copy of package_host.dll with `package` as its RCDATA 1 (language 1033), loaded; null
// when it could not be made. `withPackage` 0 gives the module without any package.
HMODULE LoadPackageModule(const std::vector<unsigned char>& package, int withPackage = 1);
void UnloadPackageModule(HMODULE module);
