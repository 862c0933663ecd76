// SPDX-License-Identifier: MIT
// The program's globals that the apply run shares with start-up and the dialog.
#pragma once

#include <atomic>

#include "outcome/outcome.h"

// Module instance handle (HINSTANCE): written once at start-up, then only read. The package and
// the finish text are resources of this module.
extern void* g_instance;

// 1 once the package has been applied. Written only by the worker, in the completion, before
// the Update button is enabled again; read by the dialog when that button is pressed.
extern int g_done;

// 1 once the dialog has closed while a run may be in progress: the run ends at its next step
// (StopRun). Written by the dialog's thread, read by the worker and the thread pool.
extern std::atomic<int> g_stopping;

// 1 when nobody answers a message box (the switches /quiet and /passive, or no interactive
// desktop): the run then shows none. Written once at start-up.
extern int g_unattended;

// The record of this process's run: begun afresh by each run, filled by the worker (or, without
// a window, on the main thread), read by start-up once the dialog has closed.
extern RunRecord g_record;
