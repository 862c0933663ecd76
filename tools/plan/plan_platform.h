// SPDX-License-Identifier: MIT
// tidepack standing where Windows would for the program's rules during a plan: the version
// seam reads real files' version resources, the shell seam looks at real folders and records
// what it is asked to make, and the registry gives only the AppData shell folder.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "extras/extras.h"

#include "plan/planned.h"

struct PlanPlatform {
    int codePage = 932;
    // By CSIDL order of the tags: program menu, desktop, start menu, startup; then AppData.
    // Texts in the code page.
    std::string shellFolders[5];
    // The packaged copy, which the version rule reads under `memoryPath`.
    std::string memoryPath;
    std::vector<unsigned char> memoryBytes;
    // Where the shell seam records: the entry's shortcuts, the move in hand (null: nowhere).
    std::vector<PlannedShortcut>* shortcuts = nullptr;
    PlannedMove* move = nullptr;
    // The steps beside the package, and the folders they would create (paths in the code page):
    // the plan counts those as there, as the program finds them after making them.
    ExtrasImage extras{nullptr, 0};
    std::set<std::string> createdFolders;
};

PlanPlatform& ThePlanPlatform();

// Drops the version block read last; call whenever a file or the packaged copy may change.
void ForgetCachedVersion();

// A path the rules composed (in the code page) as a path on this machine, UTF-8.
std::string LocalPath(const std::string& ansiPath);

// Whether anything, or a folder, is at the rules' path on this machine. A path still headed by
// a tag ("<Desktop>\...") names no place here.
bool LocalExists(const std::string& ansiPath);
bool LocalFolder(const std::string& ansiPath);
// Whether the file there is read-only: no write permission for anyone, which is how Windows'
// read-only attribute shows both through Wine and through the C library on Windows.
bool LocalReadOnly(const std::string& ansiPath);
