// SPDX-License-Identifier: MIT
// Start-up and the dialog on Windows.
#pragma once

#include <windows.h>

#include "outcome/outcome.h"
#include "ui/command_line.h"

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

// Appends the run's log to `logPath`, or where it goes by default when that is empty: a header
// (program, package, command line, Windows, elevation, user and session), one line per item of
// `record` and the line "result: <code> <meaning>" for `end`. A log that cannot be written is
// skipped: it never fails the update.
// `record` null: the run was still ending, and its items are not listed.
void WriteRunLog(const wchar_t* logPath, const RunRecord* record, RunEnd end);
