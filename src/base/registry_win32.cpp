// SPDX-License-Identifier: MIT
#include <windows.h>

#include "base/registry_win32.h"
#include "base/system_path_win32.h"
#include "base/text.h"

static int IsVariableDefined(const wchar_t* name) {
    return GetEnvironmentVariableW(name, nullptr, 0) > 0;
}

HKEY RegistryRootKey(RegistryRoot root) {
    switch (root) {
        case REGISTRY_CURRENT_USER:
            return HKEY_CURRENT_USER;
        case REGISTRY_CLASSES_ROOT:
            return HKEY_CLASSES_ROOT;
        case REGISTRY_USERS:
            return HKEY_USERS;
        case REGISTRY_LOCAL_MACHINE:
        default:
            return HKEY_LOCAL_MACHINE;
    }
}

RegistryRead ReadRegistryFolder(RegistryRoot root, const char* subKey, unsigned access,
                                const char* valueName, char* folder) {
    folder[0] = '\0';
    // Read as Unicode: the ANSI query gives "?" for what the code page cannot spell (a
    // per-user install under C:\Users\田中 on a Western system), a folder that does not exist.
    // The names are the package's, in the ANSI code page, and converted as Windows would.
    wchar_t wideKey[PATH_TEXT_SIZE], wideName[PATH_TEXT_SIZE];
    if (!MultiByteToWideChar(CP_ACP, 0, subKey, -1, wideKey, PATH_TEXT_SIZE) ||
        !MultiByteToWideChar(CP_ACP, 0, valueName, -1, wideName, PATH_TEXT_SIZE))
        return REGISTRY_NO_KEY;
    HKEY key;
    if (RegOpenKeyExW(RegistryRootKey(root), wideKey, 0, access, &key) != ERROR_SUCCESS)
        return REGISTRY_NO_KEY;
    wchar_t value[PATH_TEXT_SIZE];
    DWORD type = REG_NONE;
    DWORD size = sizeof value;
    LONG result =
        RegQueryValueExW(key, wideName, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    if (result == ERROR_FILE_NOT_FOUND) return REGISTRY_NO_VALUE;
    // ERROR_MORE_DATA among them: a value too long is no folder, never "no value".
    if (result != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ))
        return REGISTRY_NO_FOLDER;
    // The text ends at the first NUL or at the data's end; a buffer full without one cannot be
    // terminated.
    DWORD length = size / sizeof(wchar_t);
    DWORD end = 0;
    while (end < length && value[end] != L'\0') ++end;
    if (end >= PATH_TEXT_SIZE) return REGISTRY_NO_FOLDER;
    value[end] = L'\0';
    if (type == REG_EXPAND_SZ) {
        // A 64-bit installer's %ProgramFiles% is not ours: expanded here it names the (x86)
        // folder, another product or an older 32-bit install of this one.
        wchar_t native[PATH_TEXT_SIZE];
        if ((access & REGISTRY_KEY_64_BIT_VIEW) &&
            !NativeViewReferences(value, IsVariableDefined, native, PATH_TEXT_SIZE))
            return REGISTRY_NO_FOLDER;
        const wchar_t* references = access & REGISTRY_KEY_64_BIT_VIEW ? native : value;
        wchar_t expanded[PATH_TEXT_SIZE];
        DWORD needed = ExpandEnvironmentStringsW(references, expanded, PATH_TEXT_SIZE);
        if (needed == 0 || needed > PATH_TEXT_SIZE) return REGISTRY_NO_FOLDER;
        return SystemPathToAnsi(expanded, folder) ? REGISTRY_READ : REGISTRY_NO_FOLDER;
    }
    return SystemPathToAnsi(value, folder) ? REGISTRY_READ : REGISTRY_NO_FOLDER;
}
