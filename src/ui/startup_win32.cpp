// SPDX-License-Identifier: MIT
// The program's entry: one copy at a time, the dialog, exit code 0 on every path.
#include <windows.h>

#include "base/system_dll.h"
#include "base/system_dll_win32.h"
#include "engine/globals.h"
#include "resource.h"
#include "ui/dialog_logic.h"
#include "ui/ui_win32.h"

HANDLE g_mutex = nullptr;

int CheckSingleInstance() {
    g_mutex = CreateMutexA(nullptr, FALSE, SINGLE_INSTANCE_NAME);
    // Read at once: any later call may change the last error.
    int nameExisted = GetLastError() == ERROR_ALREADY_EXISTS;
    // A second copy keeps its handle open; the process end releases it.
    return IsOnlyInstance(g_mutex != nullptr, nameExisted);
}

// Registers "msctls_progress32" before the template needs it. comctl32 is no KnownDLL, so it
// is taken from the system folder by its path rather than imported.
static void RegisterCommonControls() {
    using InitProc = void(WINAPI*)();
    auto init = reinterpret_cast<InitProc>(
        reinterpret_cast<void*>(GetSystemDllProc("comctl32.dll", "InitCommonControls")));
    if (init) init();
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // An install folder or a shortcut on an empty removable drive must fail as a missing
    // file does, without "There is no disk in the drive" boxes the user cannot answer well.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    int searchLimited = RestrictDllSearch();
    // The command line and the show state are not looked at: the package decides everything.
    if (!CheckSingleInstance()) return 0;
    PreloadSystemDlls(searchLimited);
    RegisterCommonControls();
    g_instance = instance;
    g_done = 0;
    // A Unicode dialog: its texts keep every character of the template whatever the code page.
    DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_UPDATE), nullptr, UpdateDialogProc, 0);
    // Closed mid-run: the staged copies in flight are finished or taken away before the end.
    // The apply run replaces each target in one step, so ending a worker that still runs never
    // leaves a file half written.
    int ended = EndWorker();
    CloseHandle(g_mutex);
    // ExitProcess would kill the worker and the pool's threads wherever they are, then run the
    // DLLs' detach code, which hangs on a lock a killed thread held; TerminateProcess runs none.
    if (!ended) TerminateProcess(GetCurrentProcess(), 0);
    return 0;
}
