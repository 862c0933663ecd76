// SPDX-License-Identifier: MIT
// Every record of a package (or of the package inside a patch program) with each entry's
// resolved target. A damaged package is listed as far as it can be read safely.
#pragma once

#include "authoring/package_check.h"
#include "system/report.h"

// Faulty when the package is damaged or a signature broken; Refused when a folder option cannot
// be written in the package's code page.
Outcome ListPackageRecords(const ListOptions& options, Report* report);
