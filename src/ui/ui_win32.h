// SPDX-License-Identifier: MIT
// Start-up and the dialog on Windows.
#pragma once

#include <windows.h>

// The single-instance mutex as CreateMutexA gave it, null or not; closed after the dialog.
extern HANDLE g_mutex;

// 1 when this copy is the only one running and may go on; 0 when it must end at once.
int CheckSingleInstance();

// The dialog procedure of IDD_UPDATE: WM_INITDIALOG and WM_COMMAND, FALSE for the rest.
INT_PTR CALLBACK UpdateDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// After the dialog has closed, or when the session ends: a run still in progress is stopped,
// given a bounded time to finish the replaces it handed on, and the staged copies it leaves are
// removed. 1 when no thread of the run is left; 0 when the worker did not end in time (or had
// not before), so that the process must not end through ExitProcess.
int EndWorker();
