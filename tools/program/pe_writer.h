// SPDX-License-Identifier: MIT
// Putting a package into a prebuilt update program: the program's resource section rebuilt
// with the package as RCDATA 1 and the manifest's execution level set, all else kept.
#pragma once

#include <string>
#include <vector>

#include "program/identity.h"

// Writes into `program` the stub with RCDATA 1 holding only `package` (language 1033), the
// level attribute of requestedExecutionLevel in its RT_MANIFEST 1 set to `executionLevel`
// (asInvoker, highestAvailable or requireAdministrator), every other resource byte for byte,
// and the headers and PE checksum to match. With an `identity`, its texts and numbers go into
// every version block and its icon replaces the first icon group (the program's and the
// dialog's). `extras`, when not empty, goes in as RCDATA 2 (language 1033), the steps beside
// the package; when empty the program carries none; `texts` likewise as RCDATA 3, the texts as
// UTF-16. The same inputs always give the same bytes.
// Returns 1; 0 with the reason in `error` (not a PE image, a signed stub, a resource tree or
// manifest it does not understand, no room for the section, ...).
int WriteProgramResources(const std::vector<unsigned char>& stub,
                          const std::vector<unsigned char>& package,
                          const std::string& executionLevel, std::vector<unsigned char>* program,
                          std::string* error, const ProgramIdentity* identity = nullptr,
                          const std::vector<unsigned char>& extras = {},
                          const std::vector<unsigned char>& texts = {});
