// SPDX-License-Identifier: MIT
// A starting manifest from two releases: the new one's files that the old one lacks or that
// differ from their copy there.
#pragma once

#include <cstddef>
#include <string>

#include "system/report.h"

struct ReleaseDiff {
    std::string manifest;  // the manifest's text
    int listed = 0;        // files new or changed
    int unchanged = 0;
    int faults = 0;  // files left out (their names are not UTF-8); the manifest names them
};

// The manifest for `newDir` against `oldDir`, its sources relative to `manifestPath`'s folder
// (empty: the current one). Refused when `manifestPath` would replace an input or lies inside
// a release; Faulty when a release cannot be read or, without `force`, `manifestPath` exists.
Outcome StartingManifest(const std::string& oldDir, const std::string& newDir,
                         const std::string& manifestPath, bool force, ReleaseDiff* diff,
                         Report* report);
