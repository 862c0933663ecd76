// SPDX-License-Identifier: MIT
// The check of a package, or of the package inside a patch program: every bound, stream, text
// and table, each fault named with its offset; and the program's signature and identity.
#pragma once

#include <string>

#include "authoring/package_file.h"
#include "system/report.h"

// Which package, and how to read its texts and targets (list uses the folders too).
struct ListOptions {
    std::string path;
    bool haveInstallDir = false;
    std::string installDir;  // UTF-8, like the folders below
    std::string windowsDir = "C:\\WINDOWS";
    std::string systemDir = "C:\\WINDOWS\\system32";
    int codePage = 932;
};

// Checks the package at `options.path`: Done with an "ok" line, else Faulty with its faults.
Outcome CheckPackage(const ListOptions& options, Report* report);

// The same for a package already read (`options.path` names it in the messages).
Outcome CheckLoadedPackage(const ListOptions& options, const PackageFile& file, Report* report);
