// SPDX-License-Identifier: MIT
// A package from a manifest: validated, every stream compressed and checked, in memory.
#pragma once

#include <string>
#include <vector>

#include "authoring/manifest.h"
#include "system/report.h"

// What makes the streams; each is a zlib stream that zlib is seen to inflate before it is kept.
enum class Compression {
    Libdeflate,  // libdeflate at level 12
    Best,        // per file the smaller of libdeflate's and zopfli's
};

struct BuildOptions {
    std::string manifest;
    std::string output;  // where the package will go: never one of the inputs
    Compression compression = Compression::Libdeflate;
    unsigned threads = 0;  // 0: one per core
    Progress progress;     // a progress line for builds that take a while
};

// The package of `options.manifest` in `bytes`, the manifest as read in `manifest`, its faults
// and warnings in `report`. Refused when `options.output` would replace an input.
Outcome BuildPackageBytes(const BuildOptions& options, ManifestResult* manifest,
                          std::vector<unsigned char>* bytes, Report* report);
