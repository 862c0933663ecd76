// SPDX-License-Identifier: MIT
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include "base/system_path_win32.h"
#include "base/text.h"
#include "shortcuts/shell_seam.h"

int LookUpSpecialFolder(int folderNumber, char* folder) {
    LPITEMIDLIST items = nullptr;
    if (SHGetSpecialFolderLocation(nullptr, folderNumber, &items) != S_OK) return 0;
    // Asked for as Unicode and given in a form the code page can spell (see GetTempFolder).
    // SHGetPathFromIDListW may write its buffer even when it fails; the caller's stays clean.
    wchar_t path[MAX_PATH] = {};
    BOOL found = SHGetPathFromIDListW(items, path);
    CoTaskMemFree(items);
    char ansi[PATH_TEXT_SIZE];
    if (!found || !SystemPathToAnsi(path, ansi)) return 0;
    return TextCopy(folder, PATH_TEXT_SIZE, ansi);
}

int ReadVersionNumbers(unsigned* major, unsigned* minor, unsigned* platform) {
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExA(&info)) return 0;
    *major = info.dwMajorVersion;
    *minor = info.dwMinorVersion;
    *platform = info.dwPlatformId;
    return 1;
}

int ShortcutPathExists(const char* path) {
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

int ShortcutFolderOpens(const char* folder) {
    // Backup semantics let CreateFileA open a folder as well as a file.
    HANDLE handle = CreateFileA(folder, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return 0;
    CloseHandle(handle);
    return 1;
}

void MakeShortcutFolder(const char* path) { CreateDirectoryA(path, nullptr); }

int CopyShortcutFile(const char* source, const char* destination) {
    return CopyFileA(source, destination, FALSE) ? 1 : 0;
}

void DeleteShortcutFile(const char* path) { DeleteFileA(path); }

namespace {

// `path` as the shell must be given it, in `out` (PATH_TEXT_SIZE bytes). This 32-bit program's
// files for <SystemDir> went to SysWOW64 through file-system redirection on 64-bit Windows, but
// a link to C:\Windows\system32\... leads the 64-bit shell to the real System32, where they
// are not: there the system folder is named as the WOW64 one. 0 when that does not fit.
int PathForTheShell(const char* path, char* out) {
    char system[PATH_TEXT_SIZE], wow64[PATH_TEXT_SIZE];
    UINT systemLength = GetSystemDirectoryA(system, sizeof system);
    // Not in every XP; where Windows has no WOW64 (32-bit Windows) it fails. A 64-bit build
    // is redirected nowhere.
    using Wow64DirectoryProc = UINT(WINAPI*)(LPSTR, UINT);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    auto wow64Directory = sizeof(void*) == 4 && kernel
                              ? reinterpret_cast<Wow64DirectoryProc>(reinterpret_cast<void*>(
                                    GetProcAddress(kernel, "GetSystemWow64DirectoryA")))
                              : nullptr;
    UINT wow64Length = wow64Directory ? wow64Directory(wow64, sizeof wow64) : 0;
    if (systemLength == 0 || systemLength >= sizeof system || wow64Length == 0 ||
        wow64Length >= sizeof wow64)
        return TextCopy(out, PATH_TEXT_SIZE, path);
    return ReplaceFolderAtStart(path, system, wow64, out);
}

// The link object's part of SaveShellLink, inside one COM initialisation.
int SaveLinkObject(const char* targetPath, const char* arguments, const WCHAR* widePath,
                   const char* workingDir, const char* description) {
    IShellLinkA* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link))))
        return 0;
    link->SetPath(targetPath);
    link->SetArguments(arguments);
    link->SetWorkingDirectory(workingDir);
    link->SetDescription(description);
    IPersistFile* file = nullptr;
    if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        link->Release();
        return 0;
    }
    HRESULT saved = file->Save(widePath, TRUE);
    file->Release();
    link->Release();
    return SUCCEEDED(saved) ? 1 : 0;
}

}  // namespace

int SaveShellLink(const char* targetPath, const char* arguments, const char* linkPath,
                  const char* workingDir, const char* description) {
    WCHAR widePath[MAX_PATH];
    if (!MultiByteToWideChar(CP_ACP, 0, linkPath, -1, widePath, MAX_PATH)) return 0;
    char target[PATH_TEXT_SIZE], folder[PATH_TEXT_SIZE];
    if (!PathForTheShell(targetPath, target) || !PathForTheShell(workingDir, folder)) return 0;
    // COM lives for this one shortcut. A thread already in another apartment refuses the
    // initialisation, and then it is not ours to end.
    HRESULT initialised = CoInitialize(nullptr);
    int saved = SaveLinkObject(target, arguments, widePath, folder, description);
    if (SUCCEEDED(initialised)) CoUninitialize();
    return saved;
}
