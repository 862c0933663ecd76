// SPDX-License-Identifier: MIT
// Host stand-in for the steps' platform (extras/extras_seam.h): a file system of paths and
// kinds, registry keys, and every change recorded in order as one line:
//   "Mkdir <path> [FAIL]", "Delete <path> <removed|gone|held|refused>" (the path of what was
//   deleted, through a swapped folder the junction's target), "Rmdir <path>",
//   "SetValue <root>:<subKey>@<view> <name>=<text or number> <written|no key|refused>"
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "extras/extras_seam.h"

struct FakeExtras {
    bool hasResource = false;
    std::vector<unsigned char> resource;
    std::map<std::string, PathKind> paths;  // not listed: PATH_NONE
    std::set<std::string> failingFolders;   // CreateOneFolder refuses these
    std::set<std::string> heldFiles;        // RemoveOneFile: held for good
    std::set<std::string> refusedFiles;     // RemoveOneFile: refused
    std::set<std::string> keys;             // "<root>:<subKey>@<view>" that exist
    // Another process swaps the folder `swapFolder` for a junction to `swapTarget` as soon as
    // `swapWhen` has been looked at, unless a handle holds the folder. Paths through a swapped
    // folder name what lies under the junction's target.
    std::string swapFolder, swapTarget, swapWhen;
    bool swapped = false;
    std::map<std::string, int> held;  // open handles by the path they name
    unsigned long lastError = 0;      // LastStepError's answer
    std::vector<std::string> calls;
};

FakeExtras& FakeExtrasState();
void FakeExtrasReset();
