// SPDX-License-Identifier: MIT
// The commands of tidepack. Each parses its own options, calls the libraries, prints what they
// say and returns the process's exit code: 0 on success, 1 when the input is faulty, 2 for bad
// usage.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "authoring/build.h"
#include "authoring/package_check.h"
#include "plan/plan_report.h"
#include "program/patch_program.h"

constexpr int EXIT_FAULT = 1;
constexpr int EXIT_USAGE = 2;

// tidepack's command line after its own name, each argument UTF-8: runs the command it names
// (tidepack_main.cpp, called by each platform's main).
int RunTidepack(const std::vector<std::string>& args);

// Each command's line, its name first: parsed, run on stdout and stderr.
int RunBuildCommand(const std::vector<std::string>& args);
int RunDiffCommand(const std::vector<std::string>& args);
int RunListCommand(const std::vector<std::string>& args);
int RunPlanCommand(const std::vector<std::string>& args);
int RunProgramCommand(const std::vector<std::string>& args);
int RunVerifyCommand(const std::vector<std::string>& args);

// Prints every record of a package (or of the package inside a patch program) with each
// entry's resolved target. A damaged package is listed as far as it can be read safely.
int ListPackage(const ListOptions& options, std::FILE* out, std::FILE* err);

// Checks every bound, stream, text and table of a package; names each fault with its offset.
int VerifyPackage(const ListOptions& options, std::FILE* out, std::FILE* err);

// Prints what the package (or the patch program's) would do to the install folder, as text or
// one JSON document.
int PlanPatch(const PlanOptions& options, std::FILE* out, std::FILE* err);

// Validates a manifest and, only when it has no fault, writes the package whole.
int BuildFromManifest(const BuildOptions& options, std::FILE* out, std::FILE* err);

// Writes a starting manifest (to `manifestPath`, or `out` when empty) with the files of
// `newDir` that are missing from `oldDir` or differ from their copy there. An existing
// `manifestPath` is replaced only when `force` is set.
int DiffReleases(const std::string& oldDir, const std::string& newDir,
                 const std::string& manifestPath, bool force, std::FILE* out, std::FILE* err);

// Writes the patch program: the package in a copy of the stub, signed when asked.
int MakeProgram(const ProgramOptions& options, std::FILE* out, std::FILE* err);
