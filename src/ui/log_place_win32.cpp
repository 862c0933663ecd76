// SPDX-License-Identifier: MIT
// Choosing and opening the log on Windows.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include "ui/log_place.h"
#include "ui/log_place_seam.h"
#include "ui/ui_win32.h"

namespace {

// SYSTEM and Administrators full control, Users read, protected from what the parent grants:
// a standard user can neither add a link to it nor change what is in it.
constexpr wchar_t PROTECTED_FOLDER[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FRFX;;;BU)";

// The owner of `handle` (a file or folder) as a SID, into `owner` (SECURITY_MAX_SID_SIZE bytes).
int OwnerOf(HANDLE handle, PSID owner) {
    PSID found = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &found, nullptr,
                        nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return 0;
    int copied = found && CopySid(SECURITY_MAX_SID_SIZE, owner, found);
    LocalFree(descriptor);
    return copied;
}

HANDLE OpenFolder(const wchar_t* folder, DWORD access) {
    return CreateFileW(folder, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

int SameSid(PSID sid, WELL_KNOWN_SID_TYPE type) {
    BYTE known[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof known;
    return CreateWellKnownSid(type, nullptr, known, &size) && EqualSid(sid, known);
}

// A path as GetFinalPathNameByHandleW gives it, "\\?\C:\..." or "\\?\UNC\server\...", as the
// path that was asked for would be written.
const wchar_t* WithoutPrefix(wchar_t* path) {
    if (path[0] == L'\\' && path[1] == L'\\' && path[2] == L'?' && path[3] == L'\\') {
        if ((path[4] | 0x20) == L'u' && (path[5] | 0x20) == L'n' && (path[6] | 0x20) == L'c' &&
            path[7] == L'\\') {
            path[6] = L'\\';
            return path + 6;
        }
        return path + 4;
    }
    return path;
}

}  // namespace

int LogElevated() { return IsElevated(); }

int ExpandLogPath(const wchar_t* asked, wchar_t* path) {
    // An agent does not always start the command through a shell that would expand it.
    wchar_t expanded[LOG_PATH_SIZE];
    DWORD length = ExpandEnvironmentStringsW(asked, expanded, LOG_PATH_SIZE);
    if (length == 0 || length > LOG_PATH_SIZE) return 0;
    length = GetFullPathNameW(expanded, LOG_PATH_SIZE, path, nullptr);
    return length > 0 && length < LOG_PATH_SIZE;
}

int DefaultLogFolder(int common, wchar_t* folder) {
    wchar_t found[MAX_PATH];
    if (common) {
        LPITEMIDLIST items = nullptr;
        if (SHGetSpecialFolderLocation(nullptr, CSIDL_COMMON_APPDATA, &items) != S_OK) return 0;
        BOOL got = SHGetPathFromIDListW(items, found);
        CoTaskMemFree(items);
        if (!got) return 0;
    } else {
        DWORD length = GetTempPathW(MAX_PATH, found);
        if (length == 0 || length >= MAX_PATH) return 0;
    }
    int length = lstrlenW(found);
    while (length > 3 && found[length - 1] == L'\\') found[--length] = L'\0';
    lstrcpynW(folder, found, LOG_PATH_SIZE);
    return 1;
}

LogFolderState MakeLogFolder(const wchar_t* folder, int protect, unsigned long* error) {
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, FALSE};
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (protect && ConvertStringSecurityDescriptorToSecurityDescriptorW(
                       PROTECTED_FOLDER, SDDL_REVISION_1, &descriptor, nullptr))
        attributes.lpSecurityDescriptor = descriptor;
    BOOL made = CreateDirectoryW(folder, &attributes);
    *error = made ? ERROR_SUCCESS : GetLastError();
    if (descriptor) LocalFree(descriptor);
    if (made) return LOG_FOLDER_MADE;
    // There already: a plain folder, never a link or junction that could lead anywhere.
    DWORD kind = GetFileAttributesW(folder);
    if (*error == ERROR_ALREADY_EXISTS && kind != INVALID_FILE_ATTRIBUTES &&
        (kind & FILE_ATTRIBUTE_DIRECTORY) && !(kind & FILE_ATTRIBUTE_REPARSE_POINT))
        return LOG_FOLDER_THERE;
    // A drive's root, a share's, or a folder the account may not add to but that exists.
    if (*error == ERROR_ACCESS_DENIED && kind != INVALID_FILE_ATTRIBUTES &&
        (kind & FILE_ATTRIBUTE_DIRECTORY) && !(kind & FILE_ATTRIBUTE_REPARSE_POINT))
        return LOG_FOLDER_THERE;
    return LOG_FOLDER_FAILED;
}

int LogFolderOwnerTrusted(const wchar_t* folder) {
    BYTE owner[SECURITY_MAX_SID_SIZE];
    HANDLE handle = OpenFolder(folder, READ_CONTROL);
    if (handle == INVALID_HANDLE_VALUE) return 0;
    int read = OwnerOf(handle, owner);
    CloseHandle(handle);
    if (!read) return 0;
    if (SameSid(owner, WinLocalSystemSid) || SameSid(owner, WinBuiltinAdministratorsSid)) return 1;
    // TrustedInstaller owns Windows' own folders; no standard user owns the Windows folder.
    wchar_t windows[MAX_PATH];
    UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 0;
    BYTE windowsOwner[SECURITY_MAX_SID_SIZE];
    handle = OpenFolder(windows, READ_CONTROL);
    if (handle == INVALID_HANDLE_VALUE) return 0;
    read = OwnerOf(handle, windowsOwner);
    CloseHandle(handle);
    return read && EqualSid(owner, windowsOwner);
}

void* OpenLogFile(const wchar_t* path, int createNew, unsigned long long* size,
                  unsigned long* error) {
    HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              createNew ? CREATE_NEW : OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return nullptr;
    }
    // Only a plain file with one name: a second hard link would turn the write into another file.
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info) || info.nNumberOfLinks != 1 ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
        CloseHandle(file);
        *error = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    *size = (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    SetFilePointer(file, 0, nullptr, FILE_END);
    return file;
}

int LogFinalPathIs(void* file, const wchar_t* path) {
    // Vista and later; XP has no way to ask, and its checks above are all there is.
    using FinalPathProc = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto finalPath = reinterpret_cast<FinalPathProc>(reinterpret_cast<void*>(
        kernel ? GetProcAddress(kernel, "GetFinalPathNameByHandleW") : nullptr));
    if (!finalPath) return 1;
    wchar_t found[LOG_PATH_SIZE];
    DWORD length = finalPath(static_cast<HANDLE>(file), found, LOG_PATH_SIZE, 0);
    if (length == 0 || length >= LOG_PATH_SIZE) return 0;
    // The path asked for with its short names made long, as the final path has them.
    wchar_t meant[LOG_PATH_SIZE];
    length = GetLongPathNameW(path, meant, LOG_PATH_SIZE);
    if (length == 0 || length >= LOG_PATH_SIZE) return 0;
    return CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, WithoutPrefix(found), -1, meant, -1) ==
           CSTR_EQUAL;
}

int RenameLogFile(const wchar_t* from, const wchar_t* to) {
    return MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void CloseLogFile(void* file) { CloseHandle(static_cast<HANDLE>(file)); }
