// SPDX-License-Identifier: MIT
// The check of a package, or of the package inside a patch program: every bound, stream, text
// and table, each fault named with its offset; and the program's signature and identity.
#pragma once

#include <string>
#include <vector>

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
    bool requireSignature = false;  // verify: an unsigned program, or a package, is a fault
};

// Checks the package at `options.path`: Done with an "ok" line, else Faulty with its faults.
Outcome CheckPackage(const ListOptions& options, Report* report);

// What the customer sees of a patch program (nothing for a package file): the title as the
// program shows it, the dialog's texts in both languages, the execution level and the
// application manifest's name; for list a line per item, for verify one line.
void ReportCustomerView(const ListOptions& options, const PackageFile& file, bool listing,
                        Report* report);

// The texts as UTF-16 beside a package: a line per text ("title: ...", "message 0: ...") in
// `lines`, what cannot be read in `faults`.
void DescribeUnicodeTexts(const UnicodeTextsImage& texts, std::vector<std::string>* lines,
                          std::vector<std::string>* faults);

// The same for a package already read (`options.path` names it in the messages).
Outcome CheckLoadedPackage(const ListOptions& options, const PackageFile& file, Report* report);
