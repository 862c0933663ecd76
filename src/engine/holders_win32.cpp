// SPDX-License-Identifier: MIT
// Which processes hold the run's targets, in any session: Restart Manager, which Windows has from
// Vista on. It is looked up at run time, so that the program still starts on XP, where the
// question has no answer and nothing is found.
#include <windows.h>
#include <restartmanager.h>

#include "base/system_dll_win32.h"
#include "base/text.h"
#include "engine/engine_seam.h"

namespace {

using StartSessionProc = DWORD(WINAPI*)(DWORD*, DWORD, WCHAR*);
using RegisterResourcesProc = DWORD(WINAPI*)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*, UINT,
                                             LPCWSTR*);
using GetListProc = DWORD(WINAPI*)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, LPDWORD);
using EndSessionProc = DWORD(WINAPI*)(DWORD);

template <typename Proc>
Proc RestartManager(const char* name) {
    return reinterpret_cast<Proc>(reinterpret_cast<void*>(GetSystemDllProc("rstrtmgr.dll", name)));
}

// Appends "name (pid N)" of each process to `holders` while it fits.
void NameHolders(const RM_PROCESS_INFO* info, UINT count, char* holders) {
    for (UINT i = 0; i < count; ++i) {
        char name[CCH_RM_MAX_APP_NAME + 1];
        if (WideCharToMultiByte(CP_ACP, 0, info[i].strAppName, -1, name, sizeof name, nullptr,
                                nullptr) <= 0)
            name[0] = '\0';
        char one[CCH_RM_MAX_APP_NAME + 32];
        if (TextFormat(one, sizeof one, "%s%s (pid %lu)", i ? ", " : "held by ", name,
                       static_cast<unsigned long>(info[i].Process.dwProcessId)))
            TextAppend(holders, ITEM_DETAIL_SIZE, one);
    }
}

}  // namespace

int TargetsHeld(const char* const* paths, int count, char* holders) {
    holders[0] = '\0';
    auto startSession = RestartManager<StartSessionProc>("RmStartSession");
    auto registerResources = RestartManager<RegisterResourcesProc>("RmRegisterResources");
    auto getList = RestartManager<GetListProc>("RmGetList");
    auto endSession = RestartManager<EndSessionProc>("RmEndSession");
    if (!startSession || !registerResources || !getList || !endSession || count <= 0) return 0;

    // The paths as Unicode, as Restart Manager takes them.
    WCHAR* wide = static_cast<WCHAR*>(LocalAlloc(LMEM_FIXED, count * sizeof(WCHAR) * MAX_PATH));
    LPCWSTR* names = static_cast<LPCWSTR*>(LocalAlloc(LMEM_FIXED, count * sizeof(LPCWSTR)));
    int held = 0;
    DWORD session;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    if (wide && names && startSession(&session, 0, key) == ERROR_SUCCESS) {
        UINT given = 0;
        for (int i = 0; i < count; ++i) {
            WCHAR* name = wide + static_cast<size_t>(i) * MAX_PATH;
            if (MultiByteToWideChar(CP_ACP, 0, paths[i], -1, name, MAX_PATH) > 0)
                names[given++] = name;
        }
        RM_PROCESS_INFO info[8];
        UINT needed = 0, got = 8;
        DWORD reasons = 0;
        if (registerResources(session, given, names, 0, nullptr, 0, nullptr) == ERROR_SUCCESS) {
            DWORD listed = getList(session, &needed, &got, info, &reasons);
            if (listed == ERROR_SUCCESS) {
                held = static_cast<int>(got);
                NameHolders(info, got, holders);
            } else if (listed == ERROR_MORE_DATA) {
                held = static_cast<int>(needed);
                TextFormat(holders, ITEM_DETAIL_SIZE, "held by %u processes", needed);
            }
        }
        endSession(session);
    }
    if (wide) LocalFree(wide);
    if (names) LocalFree(names);
    return held;
}
