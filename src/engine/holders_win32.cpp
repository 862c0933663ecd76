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

namespace {

// The full path of the process's program, or the empty text. QueryFullProcessImageNameW is
// Vista's, as Restart Manager is.
void ImageOf(DWORD pid, char* image) {
    image[0] = '\0';
    using QueryProc = BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, PDWORD);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    auto query = kernel ? reinterpret_cast<QueryProc>(reinterpret_cast<void*>(
                              GetProcAddress(kernel, "QueryFullProcessImageNameW")))
                        : nullptr;
    // PROCESS_QUERY_LIMITED_INFORMATION: also a protected process's, a service's.
    HANDLE process = query ? OpenProcess(0x1000, FALSE, pid) : nullptr;
    if (!process) return;
    wchar_t wide[MAX_PATH];
    DWORD length = MAX_PATH;
    if (query(process, 0, wide, &length) &&
        WideCharToMultiByte(CP_ACP, 0, wide, -1, image, PATH_TEXT_SIZE, nullptr, nullptr) <= 0)
        image[0] = '\0';
    CloseHandle(process);
}

// Asks Restart Manager; fills `info` (room for `*room`, grown to what is needed) and returns
// how many hold, or -1 where it cannot answer.
int AskRestartManager(const char* const* paths, int count, RM_PROCESS_INFO** info, UINT* got) {
    auto startSession = RestartManager<StartSessionProc>("RmStartSession");
    auto registerResources = RestartManager<RegisterResourcesProc>("RmRegisterResources");
    auto getList = RestartManager<GetListProc>("RmGetList");
    auto endSession = RestartManager<EndSessionProc>("RmEndSession");
    *info = nullptr;
    *got = 0;
    if (!startSession || !registerResources || !getList || !endSession || count <= 0) return -1;

    // The paths as Unicode, as Restart Manager takes them.
    WCHAR* wide = static_cast<WCHAR*>(LocalAlloc(LMEM_FIXED, count * sizeof(WCHAR) * MAX_PATH));
    LPCWSTR* names = static_cast<LPCWSTR*>(LocalAlloc(LMEM_FIXED, count * sizeof(LPCWSTR)));
    int held = -1;
    DWORD session;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    if (wide && names && startSession(&session, 0, key) == ERROR_SUCCESS) {
        UINT given = 0;
        for (int i = 0; i < count; ++i) {
            WCHAR* name = wide + static_cast<size_t>(i) * MAX_PATH;
            if (MultiByteToWideChar(CP_ACP, 0, paths[i], -1, name, MAX_PATH) > 0)
                names[given++] = name;
        }
        if (registerResources(session, given, names, 0, nullptr, 0, nullptr) == ERROR_SUCCESS) {
            // Asked again with the room it asks for: the list may grow in between.
            UINT room = 0;
            for (int attempt = 0; attempt < 3 && held < 0; ++attempt) {
                UINT needed = 0, listed = room;
                DWORD reasons = 0;
                DWORD answer = getList(session, &needed, &listed, *info, &reasons);
                if (answer == ERROR_SUCCESS) {
                    held = static_cast<int>(listed);
                    *got = listed;
                } else if (answer == ERROR_MORE_DATA) {
                    if (*info) LocalFree(*info);
                    room = needed + 4;
                    *info = static_cast<RM_PROCESS_INFO*>(
                        LocalAlloc(LMEM_FIXED, room * sizeof(RM_PROCESS_INFO)));
                    if (!*info) break;
                } else {
                    break;
                }
            }
        }
        endSession(session);
    }
    if (wide) LocalFree(wide);
    if (names) LocalFree(names);
    return held;
}

}  // namespace

int ListTargetHolders(const char* const* paths, int count, TargetHolder* holders, int capacity) {
    RM_PROCESS_INFO* info;
    UINT got;
    int held = AskRestartManager(paths, count, &info, &got);
    for (UINT i = 0; i < got && static_cast<int>(i) < capacity; ++i) {
        TargetHolder& holder = holders[i];
        holder.pid = info[i].Process.dwProcessId;
        if (WideCharToMultiByte(CP_ACP, 0, info[i].strAppName, -1, holder.name, sizeof holder.name,
                                nullptr, nullptr) <= 0)
            holder.name[0] = '\0';
        ImageOf(holder.pid, holder.image);
    }
    if (info) LocalFree(info);
    return held > 0 ? held : 0;
}

int TargetsHeld(const char* const* paths, int count, char* holders) {
    holders[0] = '\0';
    RM_PROCESS_INFO* info;
    UINT got;
    int held = AskRestartManager(paths, count, &info, &got);
    if (info) NameHolders(info, got, holders);
    if (info) LocalFree(info);
    return held > 0 ? held : 0;
}

namespace {

struct WindowSearch {
    DWORD pid;
    const char* windowClass;
    int found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM parameter) {
    WindowSearch* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD pid = 0;
    char windowClass[256];
    GetWindowThreadProcessId(window, &pid);
    if (pid == search->pid && GetClassNameA(window, windowClass, sizeof windowClass) > 0 &&
        lstrcmpiA(windowClass, search->windowClass) == 0) {
        search->found = 1;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

int ProcessHasWindowClass(unsigned long pid, const char* windowClass) {
    if (windowClass[0] == '\0') return 0;
    WindowSearch search = {static_cast<DWORD>(pid), windowClass, 0};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}
