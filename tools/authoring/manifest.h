// SPDX-License-Identifier: MIT
// The manifest: a TOML file a vendor writes by hand and keeps in version control. It says
// everything a package holds; texts are UTF-8 and are converted to the code page of the target
// machines. See the vendor's guide in README.md for an example and every key.
#pragma once

#include <string>
#include <vector>

#include "extras/extras_writer.h"
#include "package/package_writer.h"
#include "package/unicode_texts_writer.h"
#include "program/identity.h"

struct ManifestResult {
    WriterPackage package;  // texts converted, file data read
    WriterExtras extras;    // folders to create, files to remove, values to set: beside it
    // The texts the program shows, as UTF-16 for the resource beside the package.
    std::vector<WriterUnicodeText> unicodeTexts;
    int codePage = 0;
    std::string executionLevel;         // empty: none given, it follows registryKey's root
    ProgramIdentity identity;           // the [program] table: the patch program's identity
    std::vector<std::string> faults;    // "manifest.toml:12:1: what is wrong", one per fault
    std::vector<std::string> warnings;  // things that build but may not do what was meant
    std::vector<std::string> sources;  // the files named (sources, icon), so no output replaces one
};

// Reads and validates the manifest at `path`. Source paths are taken relative to the
// manifest's folder. Returns 1 when there is no fault; 0 with every fault found in `faults`
// (validation goes on after a fault so that all of them are reported in one run).
int LoadManifest(const std::string& path, ManifestResult* result);

// The resource of `texts` beside the package, with the dialog's own texts ([program]'s) or
// without (a package carries no [program] table). Empty when every text is ASCII, which reads
// the same on every code page: such a package and program stay as they were. Returns 1; 0 with
// the reason in `error`.
int UnicodeTextsResource(const std::vector<WriterUnicodeText>& texts, bool withDialogTexts,
                         std::vector<unsigned char>* out, std::string* error);

// A TOML string for `text`: a literal string when it can be one (so Windows paths keep their
// single backslashes), else a basic string with escapes.
std::string TomlString(const std::string& text);
