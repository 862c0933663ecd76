// SPDX-License-Identifier: MIT
// Start-up and the dialog on Windows.
#pragma once

#include <windows.h>

#include "outcome/outcome.h"
#include "package/package.h"
#include "ui/command_line.h"

// The package this program carries (RCDATA 1), as a read-only image of the loaded module: 1,
// or 0 when it carries none that can be loaded. Resources need no freeing.
int CarriedPackage(PackageImage* image);

// 1 when this copy is the only one running and may go on; 0 when it must end at once.
int CheckSingleInstance();

// The dialog procedure of IDD_UPDATE: WM_INITDIALOG and WM_COMMAND, FALSE for the rest.
INT_PTR CALLBACK UpdateDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// After the dialog has closed, or when the session ends: a run still in progress is stopped,
// given a bounded time to finish the replaces it handed on, and the staged copies it leaves are
// removed. 1 when no thread of the run is left; 0 when the worker did not end in time (it may
// still add to g_record), so that the process must not end through ExitProcess.
int EndWorker();

// The run without a dialog (/quiet, or no desktop a user sees), on a worker while a hidden
// top-level window holds a logoff or a restart back as the dialog does. 1 when no thread of the
// run is left (as EndWorker); a logoff forced on it marks `record` cancelled.
int RunWithoutWindow(RunRecord* record);

// How the program was asked to run; written once at start-up.
extern UiMode g_uiMode;

// 1 when the process runs with the administrators' rights (elevated, under UAC).
int IsElevated();

// Opens the run's log where `command` asks (/log, its variables expanded) or by default, and
// writes its header: where it was asked for when it is elsewhere, the program and its file
// version, the package with its size and SHA-256, the command line, the Windows version,
// elevation, user and session. From then on `record`'s hook appends each item's line as it
// ends. A log that cannot be written is skipped: it never changes the run.
void BeginRunLog(const CommandLine& command, RunRecord* record);

// Writes the lines of `record` not yet written and "result: <code> <meaning>" for `end`, and
// closes the log. `settled` 0: the run was still ending, and its later items are not listed.
void EndRunLog(RunRecord* record, RunEnd end, int settled);
