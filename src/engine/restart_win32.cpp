// SPDX-License-Identifier: MIT
// The replaces an earlier run left to the next restart: Windows keeps them in the registry value
// PendingFileRenameOperations, pairs of texts "\??\<source>" and "!\??\<target>".
#include <windows.h>

#include "base/text.h"
#include "engine/engine_seam.h"

namespace {

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

}  // namespace

int WaitsForRestart(const char* target, const void* data, std::uint32_t size) {
    wchar_t wideTarget[PATH_TEXT_SIZE];
    if (MultiByteToWideChar(CP_ACP, 0, target, -1, wideTarget, PATH_TEXT_SIZE) <= 0) return 0;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return 0;
    DWORD type = 0, bytes = 0;
    wchar_t* list = nullptr;
    if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type, nullptr, &bytes) ==
            ERROR_SUCCESS &&
        type == REG_MULTI_SZ && bytes > 0)
        list = static_cast<wchar_t*>(LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, bytes + 4));
    int waits = 0;
    if (list && RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type,
                                 reinterpret_cast<BYTE*>(list), &bytes) == ERROR_SUCCESS) {
        // Terminated twice past its end, whatever the value held.
        const wchar_t* end = list + bytes / sizeof(wchar_t);
        for (const wchar_t* source = list; source < end && *source && !waits;) {
            const wchar_t* destination = source + lstrlenW(source) + 1;
            if (destination >= end) break;
            // Only a copy of this very data: another package's file waiting there is not ours.
            waits = *destination && lstrcmpiW(PathOf(destination), wideTarget) == 0 &&
                    FileHolds(PathOf(source), data, size);
            source = destination + lstrlenW(destination) + 1;
        }
    }
    if (list) LocalFree(list);
    RegCloseKey(key);
    return waits;
}
