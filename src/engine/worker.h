// The worker thread of the apply run, started by the dialog with CreateThread.
#pragma once

#include <windows.h>

// Thread procedure: runs RunUpdate on the dialog window `dialog` and ends the thread with
// exit code 0, whatever the run gave.
DWORD WINAPI UpdateWorker(LPVOID dialog);
