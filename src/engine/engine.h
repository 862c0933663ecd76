// SPDX-License-Identifier: MIT
// The apply run: the whole package applied in one pass, driving the dialog from the worker.
#pragma once

#include <cstdint>

#include "outcome/outcome.h"

// Applies the package resource of g_instance, reporting on `dialog` (an HWND; null or a
// vanished window is allowed: the dialog operations then do nothing).
// Returns 1 when the run reached its completion (g_done is then 1, Update reads Finish and is
// enabled, Cancel disabled, bar 100), also when the module has no package at all; 0 when it
// stopped early: the package resource did not load, lock or hold a whole header (Update stays
// disabled), or a listed application is running (its message shown unless g_unattended, Update
// enabled again).
// What became of each entry, shortcut, move and run-after program goes into `record` when given
// (initialised by the caller, which frees it), with the end decided before any item: the
// product not found (nothing written), a listed application running, a package that does not
// load.
int RunUpdate(void* dialog, RunRecord* record = nullptr);

// What the last run left in the temporary folder: of the entries whose target resolved, how
// many have no temporary file (no name could be made there, the folder refused the file, or
// the entry's data was damaged). Complete once RunUpdate has returned.
struct RunTempFiles {
    int entries;
    int withoutTempFile;
};
RunTempFiles LastRunTempFiles();

// Asks a run in progress to end soon: no further entry is begun and no further staged copy
// handed on, and shortcuts, run-after programs and moves are skipped; the replaces already
// handed on finish. For the dialog closing mid-run.
void StopRun();

// Sets the dialog's progress bar (range 0 to 100) to `position`. Returns 1.
int SetProgress(void* dialog, int position);

// Starts the program at `path`, with no arguments, in its own folder and with the system's
// default error mode, and returns when it has ended: 1 with its exit code in `*exitCode`; 0 when
// it could not be started.
int RunAndWait(const char* path, unsigned long* exitCode);

// The total of every entry's size, rounded once to the nearest 32-bit float: the divisor of
// every position of a run.
float ProgressDivisor(std::uint32_t totalBytes);

// Bar position after `doneBytes`: doneBytes / divisor * 100 in double precision, truncated
// toward zero, at most 100; 0 when the divisor is 0 (every entry empty). The float divisor is
// why the last entry of a package above 2^24 bytes may give 99.
int ProgressPosition(std::uint32_t doneBytes, float divisor);
