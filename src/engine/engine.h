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

enum RunAfterResult {
    RUN_NOT_STARTED,
    RUN_ENDED,          // its exit code in `*exitCode`
    RUN_STILL_RUNNING,  // `limitMs` passed: it is left running
};
constexpr unsigned long RUN_WAIT_FOREVER = 0xFFFFFFFFul;

// How long an unattended run waits for a run-after program. As SYSTEM in session 0 a program
// that shows a window ("start the product again") waits on a desktop nobody sees and never ends;
// a post-update step is done well within a minute even on a busy machine, and a minute is far
// below any deployment agent's time-out (an hour or more), so the run always ends and leaves its
// log and exit code before the agent gives up on it.
constexpr unsigned long RUN_AFTER_UNATTENDED_MS = 60000;

// Starts the program at `path`, with no arguments, in its own folder and with the system's
// default error mode, and waits for its end at most `limitMs` (RUN_WAIT_FOREVER: no limit).
RunAfterResult RunAndWait(const char* path, unsigned long limitMs, unsigned long* exitCode);

// The total of every entry's size, rounded once to the nearest 32-bit float: the divisor of
// every position of a run.
float ProgressDivisor(std::uint32_t totalBytes);

// Bar position after `doneBytes`: doneBytes / divisor * 100 in double precision, truncated
// toward zero, at most 100; 0 when the divisor is 0 (every entry empty). The float divisor is
// why the last entry of a package above 2^24 bytes may give 99.
int ProgressPosition(std::uint32_t doneBytes, float divisor);
