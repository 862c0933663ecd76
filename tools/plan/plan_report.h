// SPDX-License-Identifier: MIT
// A plan as tidepack prints it: as text, or as one JSON document.
#pragma once

#include <string>

#include "plan/plan.h"
#include "system/report.h"

struct PlanOptions {
    std::string path;
    PlanFolders folders;  // defaults as list's
    bool json = false;
    bool strict = false;  // Faulty when any entry would be skipped
};

// What the package (or the patch program's) at `options.path` would do to the install folder
// `options.folders.installDir` on this machine, by the program's own rules: each entry
// replaced, kept, added or skipped, the shortcuts and the moves. Refused when the install
// folder is none; Faulty when the package is damaged.
Outcome ReportPlan(const PlanOptions& options, Report* report);
