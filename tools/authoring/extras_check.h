// SPDX-License-Identifier: MIT
// The steps beside a package (folders to create, files to remove, registry values to set), as
// list and verify show them: one line per step, and every fault the update program would
// refuse a step for.
#pragma once

#include <string>
#include <vector>

#include "extras/extras.h"

struct ExtrasDescription {
    std::vector<std::string> lines;   // "folder   [0] <InstallDir>\plugins", ... (UTF-8)
    std::vector<std::string> faults;  // "removal 2: ...", one per fault
    int folders = 0, removals = 0, values = 0;
};

// Reads every record of `image`, with the texts decoded from `codePage`. Paths are checked as
// the update program checks them, beneath `installDir` (in the code page; the package's
// defaultFolder stands in for the machine's install folder).
ExtrasDescription DescribeExtras(const ExtrasImage& image, int codePage, const char* installDir);
