// SPDX-License-Identifier: MIT
// The steps beside the package, as the apply run takes them: folders before the first entry,
// removals and registry values after the last, each with its outcome.
#pragma once

#include <cstdint>

#include "extras/extras.h"

// One outcome per record, in record order: folders, then removals, then values.
struct ExtrasRun {
    ExtrasImage image;       // data null: the program carries no steps
    ExtraOutcome* outcomes;  // null when there are none (or no memory for them)
    unsigned long* errors;   // beside each outcome: the Windows error of a step that failed
    std::int32_t folderCount, removalCount, registryCount;
};

enum ExtrasOpened {
    EXTRAS_NONE,       // no steps resource, or one that is no steps resource (no "TWX1")
    EXTRAS_READ,       // its steps are ready to run
    EXTRAS_DAMAGED,    // "TWX1", but another format version, bad counts or records cut short
    EXTRAS_NO_MEMORY,  // no room for the outcomes
};

// Reads the program's steps resource. Without one (a program made for a package alone) the
// run has no steps and nothing below does anything. Damaged or without memory, it has none
// either, and the run must not go on: the release would not be applied whole.
ExtrasOpened OpenExtras(ExtrasRun* run);
void CloseExtras(ExtrasRun* run);

// The Windows error of step `index` (folders, removals, values counted as one list), 0 when
// none was read.
unsigned long ExtraError(const ExtrasRun& run, std::int32_t index);

// 1 when `path` lies in a folder (or beneath one) that the steps were to create and did not.
int InFolderNotMade(const ExtrasRun& run, const char* installDir, const char* path);

// The outcome of folder i, removal i, value i.
ExtraOutcome FolderOutcome(const ExtrasRun& run, std::int32_t index);
ExtraOutcome RemovalOutcome(const ExtrasRun& run, std::int32_t index);
ExtraOutcome ValueOutcome(const ExtrasRun& run, std::int32_t index);

// Before the entries: creates each folder that is missing, one level at a time, only beneath
// `installDir` (null when the run has none), which must exist and be no drive or share root.
void CreateExtraFolders(ExtrasRun* run, const char* installDir);

// After the entries: removes the files and sets the values. `everyEntryDone` is 0 when any
// entry's file is not in place (skipped, refused, failed): then nothing is removed and nothing
// set, since the installed program may still need the file or be the older release. Values go
// to `registryView` (0, or REGISTRY_KEY_64_BIT_VIEW: where the install folder was found), and
// only when no step before them failed: `nothingFailed` (0 when any other step of the run was
// not done), every folder made or there, every removal done.
void FinishExtras(ExtrasRun* run, const char* installDir, unsigned registryView, int everyEntryDone,
                  int nothingFailed = 1);

// The path a folder or removal record's text names: "<InstallDir>" then a backslash and one or
// more names, composed onto `installDir`. EXTRA_SET with the path in `path` (PATH_TEXT_SIZE
// bytes); else why not: EXTRA_NO_INSTALL_DIR, EXTRA_ROOT_INSTALL_DIR, EXTRA_OUTSIDE (another
// placeholder, an absolute path, "..", "." or an empty name, a character Windows refuses in a
// name, a name ending in a dot or blank, too long).
ExtraOutcome ExtraPath(const char* text, const char* installDir, char* path);

// `installDir` without its trailing backslash in `base` (PATH_TEXT_SIZE bytes): EXTRA_SET, or
// EXTRA_NO_INSTALL_DIR (none, empty, too long) or EXTRA_ROOT_INSTALL_DIR (a drive or share root).
ExtraOutcome ExtraInstallBase(const char* installDir, char* base);

// 1 when a reparse point of `tag` is a link: a name surrogate (bit 29), as junctions and
// symbolic links are; cloud placeholders, deduplicated and compressed files are files.
int IsLinkReparseTag(unsigned long tag);
