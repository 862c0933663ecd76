// SPDX-License-Identifier: MIT
// The replaces an earlier run left to the next restart: Windows keeps them in the registry value
// PendingFileRenameOperations, pairs of texts "\??\<source>" and "!\??\<target>" (an empty
// target: delete the source). The value is read once per run: after Windows Update it can hold
// thousands of pairs.
#include <windows.h>

#include <initializer_list>

#include "base/text.h"
#include "engine/engine_seam.h"
#include "engine/restart_win32.h"

namespace {

const wchar_t SESSION_MANAGER[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t PENDING_RENAMES[] = L"PendingFileRenameOperations";

// Skips the "!" (replace existing) and "\??\" that Windows puts before a path.
const wchar_t* PathOf(const wchar_t* entry) {
    if (entry[0] == L'!') ++entry;
    if (entry[0] == L'\\' && entry[1] == L'?' && entry[2] == L'?' && entry[3] == L'\\') entry += 4;
    return entry;
}

// 1 when the file at `path` holds exactly `size` bytes of `data`.
int FileHolds(const wchar_t* path, const void* data, std::uint32_t size) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    const unsigned char* expected = static_cast<const unsigned char*>(data);
    unsigned char chunk[16384];
    std::uint32_t done = 0;
    int same = GetFileSize(file, nullptr) == size;
    while (same) {
        DWORD got = 0;
        if (!ReadFile(file, chunk, sizeof chunk, &got, nullptr)) same = 0;
        if (got == 0) break;
        for (DWORD i = 0; same && i < got; ++i)
            same = done + i < size && chunk[i] == expected[done + i];
        done += got;
    }
    CloseHandle(file);
    return same && done == size;
}

// The value as read, terminated twice past its end whatever it held; null when there is none.
// `*chars` gets its length in characters.
wchar_t* ReadPendingRenames(HKEY key, DWORD* chars) {
    DWORD type = 0, bytes = 0;
    *chars = 0;
    if (RegQueryValueExW(key, PENDING_RENAMES, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
        type != REG_MULTI_SZ || bytes == 0)
        return nullptr;
    wchar_t* list = static_cast<wchar_t*>(LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, bytes + 4));
    if (list && RegQueryValueExW(key, PENDING_RENAMES, nullptr, &type,
                                 reinterpret_cast<BYTE*>(list), &bytes) == ERROR_SUCCESS) {
        *chars = bytes / sizeof(wchar_t);
        return list;
    }
    if (list) LocalFree(list);
    return nullptr;
}

// Calls `visit(source, destination)` for each pair; stops when it returns 0.
template <typename Visit>
void ForEachPair(const wchar_t* list, DWORD chars, Visit visit) {
    const wchar_t* end = list + chars;
    for (const wchar_t* source = list; source < end && *source;) {
        const wchar_t* destination = source + lstrlenW(source) + 1;
        if (destination >= end) return;
        if (!visit(source, destination)) return;
        source = destination + lstrlenW(destination) + 1;
    }
}

// The value as this run found it, read on the first question (on the run's thread, before any
// replace is handed on), and a lock for the rewrite, which the pool's threads may ask for.
wchar_t* g_pending = nullptr;
DWORD g_pendingChars = 0;
volatile LONG g_pendingRead = 0;
volatile LONG g_rewriteLock = 0;

void ReadOnce() {
    if (g_pendingRead) return;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SESSION_MANAGER, 0, KEY_QUERY_VALUE, &key) ==
        ERROR_SUCCESS) {
        g_pending = ReadPendingRenames(key, &g_pendingChars);
        RegCloseKey(key);
    }
    InterlockedExchange(&g_pendingRead, 1);
}

// 1 when the pair touches `target`: a replace onto it, or its deletion.
int PairTouches(const wchar_t* source, const wchar_t* destination, const wchar_t* target) {
    if (*destination) return lstrcmpiW(PathOf(destination), target) == 0;
    return lstrcmpiW(PathOf(source), target) == 0;
}

int WideTarget(const char* target, wchar_t* wide) {
    return MultiByteToWideChar(CP_ACP, 0, target, -1, wide, PATH_TEXT_SIZE) > 0;
}

}  // namespace

int WaitsForRestart(const char* target, const void* data, std::uint32_t size) {
    wchar_t wideTarget[PATH_TEXT_SIZE];
    if (!WideTarget(target, wideTarget)) return 0;
    ReadOnce();
    int waits = 0;
    if (g_pending)
        ForEachPair(g_pending, g_pendingChars,
                    [&](const wchar_t* source, const wchar_t* destination) {
                        // Only a copy of this very data: another package's file waiting there is
                        // not ours.
                        waits = *destination && lstrcmpiW(PathOf(destination), wideTarget) == 0 &&
                                FileHolds(PathOf(source), data, size);
                        return !waits;
                    });
    return waits;
}

void SupersedeRestartRenames(const char* target) {
    wchar_t wideTarget[PATH_TEXT_SIZE];
    if (!g_pendingRead || !g_pending || !WideTarget(target, wideTarget)) return;
    int touched = 0;
    ForEachPair(g_pending, g_pendingChars, [&](const wchar_t* source, const wchar_t* destination) {
        touched = PairTouches(source, destination, wideTarget);
        return !touched;
    });
    if (!touched) return;
    while (InterlockedCompareExchange(&g_rewriteLock, 1, 0) != 0) Sleep(1);
    // Read afresh: Windows and other installers add to it too.
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SESSION_MANAGER, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                      &key) == ERROR_SUCCESS) {
        DWORD chars;
        wchar_t* list = ReadPendingRenames(key, &chars);
        wchar_t* kept =
            list ? static_cast<wchar_t*>(LocalAlloc(LMEM_FIXED, (chars + 2) * sizeof(wchar_t)))
                 : nullptr;
        if (kept) {
            DWORD used = 0;
            int dropped = 0;
            ForEachPair(list, chars, [&](const wchar_t* source, const wchar_t* destination) {
                if (PairTouches(source, destination, wideTarget)) {
                    // The earlier copy would be put back over the newer file at the boot; a
                    // missing source is skipped there, so it goes as well.
                    if (*destination) DeleteFileW(PathOf(source));
                    dropped = 1;
                    return 1;
                }
                for (const wchar_t* part : {source, destination}) {
                    int length = lstrlenW(part) + 1;
                    CopyMemory(kept + used, part, length * sizeof(wchar_t));
                    used += length;
                }
                return 1;
            });
            kept[used++] = L'\0';
            if (dropped && used > 1)
                RegSetValueExW(key, PENDING_RENAMES, 0, REG_MULTI_SZ,
                               reinterpret_cast<const BYTE*>(kept), used * sizeof(wchar_t));
            else if (dropped)
                RegDeleteValueW(key, PENDING_RENAMES);
            LocalFree(kept);
        }
        if (list) LocalFree(list);
        RegCloseKey(key);
    }
    InterlockedExchange(&g_rewriteLock, 0);
}
