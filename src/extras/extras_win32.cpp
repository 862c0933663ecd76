// SPDX-License-Identifier: MIT
// The steps beside the package on Windows: the resource, folders, files and registry values.
#include <windows.h>

#include <cstring>

#include "base/registry_win32.h"
#include "base/system_path_win32.h"
#include "engine/globals.h"
#include "extras/extras_run.h"
#include "extras/extras_seam.h"
#include "package/package.h"

namespace {

// 1 when another process holds the file open for good: it can still be opened for deletion,
// so the refusal was not its permissions' (a running program's image answers access denied).
int HeldByAnother(const char* path, DWORD error) {
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return 1;
    if (error != ERROR_ACCESS_DENIED) return 0;
    // A read-only file answers access denied too, and opens for deletion all the same: it is
    // refused, never left for the restart to remove.
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY)) return 0;
    HANDLE file = CreateFileA(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    CloseHandle(file);
    return 1;
}

}  // namespace

int LoadExtrasResource(ExtrasImage* image) {
    HMODULE module = static_cast<HMODULE>(g_instance);
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(EXTRAS_RESOURCE_ID),
                                MAKEINTRESOURCEA(PACKAGE_RESOURCE_TYPE));
    if (!found) return 0;
    HGLOBAL loaded = LoadResource(module, found);
    if (!loaded) return 0;
    // A module's resources stay mapped while it is loaded: nothing to free.
    image->data = static_cast<const unsigned char*>(LockResource(loaded));
    image->size = SizeofResource(module, found);
    return image->data != nullptr;
}

namespace {

// A reparse point is a link when its tag is a name surrogate (junctions, symbolic links: they
// name another file); other tags (cloud placeholders, deduplicated or compressed files) keep the
// data of the file itself. XP has no call for a handle's tag: the folder's entry gives it.
int IsLinkAt(const char* path) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE) return 1;  // unknown: the careful answer
    FindClose(search);
    return IsLinkReparseTag(found.dwReserved0);
}

PathKind KindOf(DWORD attributes, const char* path) {
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsLinkAt(path)) return PATH_LINK;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PATH_FOLDER;
    // Read-only files are refused as the entries' are: the installer meant them to stay.
    if (attributes & FILE_ATTRIBUTE_READONLY) return PATH_OTHER;
    return PATH_FILE;
}

// FILE_DISPOSITION_INFO's class for SetFileInformationByHandle (Vista and later).
constexpr int FILE_DISPOSITION_CLASS = 4;
using SetInformationProc = BOOL(WINAPI*)(HANDLE, int, LPVOID, DWORD);

SetInformationProc SetInformationCall() {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    return kernel ? reinterpret_cast<SetInformationProc>(reinterpret_cast<void*>(
                        GetProcAddress(kernel, "SetFileInformationByHandle")))
                  : nullptr;
}

}  // namespace

PathKind GetPathKind(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? PATH_NONE
                                                                              : PATH_OTHER;
    }
    return KindOf(attributes, path);
}

void* HoldPath(const char* path, int forDeletion, PathKind* kind) {
    // No delete sharing: while this handle is open nobody renames or deletes what it names.
    // The file to delete shares it, so that XP's delete by name can go through.
    HANDLE file = CreateFileA(
        path, forDeletion ? DELETE | FILE_READ_ATTRIBUTES : FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | (forDeletion ? FILE_SHARE_DELETE : 0), nullptr,
        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            *kind = PATH_NONE;
        else
            *kind = forDeletion ? GetPathKind(path) : PATH_OTHER;
        return nullptr;
    }
    BY_HANDLE_FILE_INFORMATION info;
    *kind =
        GetFileInformationByHandle(file, &info) ? KindOf(info.dwFileAttributes, path) : PATH_OTHER;
    return file;
}

FileRemoval RemoveHeldFile(void* held, const char* path) {
    SetInformationProc setInformation = SetInformationCall();
    // XP: by name, which the held folders keep where it was checked (a link put there since is
    // deleted itself, never what it names).
    if (!setInformation) return RemoveOneFile(path);
    BOOLEAN remove = TRUE;  // FILE_DISPOSITION_INFO
    if (setInformation(static_cast<HANDLE>(held), FILE_DISPOSITION_CLASS, &remove, sizeof remove))
        return FILE_REMOVED;
    // Refused (a running program's image): by name, which leaves it to the restart where it may.
    return RemoveOneFile(path);
}

void ReleasePath(void* held) { CloseHandle(static_cast<HANDLE>(held)); }

unsigned long LastStepError() { return GetLastError(); }

int CreateOneFolder(const char* path) {
    // No security attributes: the folder inherits its parent's permissions.
    return CreateDirectoryA(path, nullptr) != 0;
}

FileRemoval RemoveOneFile(const char* path) {
    if (DeleteFileA(path)) return FILE_REMOVED;
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return FILE_GONE;
    // Held for good: removed at the next restart, where this process may ask for that.
    if (HeldByAnother(path, error) && RenamesAtRestart(path) &&
        MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        return FILE_HELD;
    return FILE_NOT_REMOVED;
}

int RemoveEmptyFolder(const char* path) { return RemoveDirectoryA(path) != 0; }

ValueWrite WriteRegistryValue(RegistryRoot root, const char* subKey, unsigned view,
                              const char* valueName, std::uint32_t type, const char* text,
                              std::uint32_t number) {
    HKEY key;
    // Opened, never created: a key that is not there means the product is not installed so.
    LONG opened = RegOpenKeyExA(RegistryRootKey(root), subKey, 0, KEY_SET_VALUE | view, &key);
    if (opened == ERROR_FILE_NOT_FOUND) return VALUE_NO_KEY;
    if (opened != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(opened));
        return VALUE_NOT_WRITTEN;
    }
    LONG result;
    if (type == EXTRAS_REG_DWORD) {
        DWORD data = number;
        result = RegSetValueExA(key, valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                                sizeof data);
    } else {
        result = RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                                static_cast<DWORD>(std::strlen(text) + 1));
    }
    RegCloseKey(key);
    // The registry answers with its error rather than setting the last one: the log reads it.
    SetLastError(static_cast<DWORD>(result));
    return result == ERROR_SUCCESS ? VALUE_WRITTEN : VALUE_NOT_WRITTEN;
}
