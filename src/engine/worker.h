// SPDX-License-Identifier: MIT
// The worker thread of the apply run, started by the dialog with CreateThread.
#pragma once

#include <windows.h>

// Posted to the dialog by the worker when its run has returned, however it ended.
constexpr UINT WM_RUN_ENDED = WM_APP + 1;

// Thread procedure: runs RunUpdate on the dialog window `dialog` into a fresh g_record, posts
// WM_RUN_ENDED to the dialog and ends the thread with exit code 0, whatever the run gave.
DWORD WINAPI UpdateWorker(LPVOID dialog);

// For a run the dialog was closed on, once the worker has had its time to end (StopRun): the
// staged copies not yet renamed or removed are deleted, or, where a thread still holds one,
// deleted at the next restart.
void RemoveUnfinishedStaged();
