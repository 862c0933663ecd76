// SPDX-License-Identifier: MIT
// A ready patch program in one command: the package written into a prebuilt update program
// (the stub) as RCDATA 1, language 1033, with the execution level its registry root needs.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "authoring/build.h"
#include "program/identity.h"
#include "signing/sign.h"
#include "system/report.h"

struct ProgramOptions {
    std::string input;   // a manifest (.toml) or a package
    std::string output;  // the patch program to write
    std::string stub;    // the program without a package; empty: the installed one
    Compression compression = Compression::Libdeflate;  // for a manifest
    Progress progress;
    SignOptions sign;  // signed when it names a route
};

struct PatchProgram {
    std::string stubPath;
    std::vector<unsigned char> package;
    std::vector<unsigned char> extras;   // the steps beside it (RCDATA 2); empty: none
    std::vector<unsigned char> texts;    // the texts as UTF-16 (RCDATA 3); empty: none
    std::vector<unsigned char> program;  // the stub carrying the package, not yet signed
    std::string level;                   // its execution level
    ProgramIdentity identity;
};

// The package (built from the manifest first, or verified) in a copy of the stub as its
// RCDATA 1 with the manifest's execution level set, checked to carry exactly that package.
// Refused when the stub is missing or the output would replace an input.
Outcome MakePatchProgram(const ProgramOptions& options, PatchProgram* made, Report* report);

// Puts `made` at `options.output` whole and executable, signed when `options.sign` names a
// route (the signing run's own output passes through `echo`); says what was written.
Outcome WritePatchProgram(const ProgramOptions& options, const PatchProgram& made, std::FILE* echo,
                          Report* report);
