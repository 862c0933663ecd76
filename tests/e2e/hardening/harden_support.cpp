// SPDX-License-Identifier: MIT
#include "harden_support.h"

#include <commctrl.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>

std::string WindowsPath(const std::string& buildPath) {
    if (buildPath.empty() || buildPath[0] != '/') return buildPath;
    std::string path = "Z:" + buildPath;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

Bytes ReadBytes(const std::string& path) {
    Bytes bytes;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    bytes.resize(GetFileSize(file, nullptr));
    DWORD read = 0;
    if (!bytes.empty())
        ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    bytes.resize(read);
    CloseHandle(file);
    return bytes;
}

int WriteBytes(const std::string& path, const Bytes& bytes) {
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    return CloseHandle(file) && ok && written == bytes.size();
}

int Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void MakeFolderChain(const std::string& folder) {
    for (std::size_t cut = folder.find('\\', 3); cut != std::string::npos;
         cut = folder.find('\\', cut + 1))
        CreateDirectoryA(folder.substr(0, cut).c_str(), nullptr);
    CreateDirectoryA(folder.c_str(), nullptr);
}

void RemoveTree(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            std::string path = folder + "\\" + name;
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                DeleteFileA(path.c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

std::vector<std::string> FilesIn(const std::string& folder, const std::string& pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\" + pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

std::uint64_t HashOf(const Bytes& bytes) {
    std::uint64_t hash = 0xCBF29CE484222325ull;
    for (unsigned char byte : bytes) {
        hash ^= byte;
        hash *= 0x100000001B3ull;
    }
    return hash;
}

Bytes NoiseBytes(std::size_t size, std::uint32_t seed) {
    Bytes bytes(size);
    std::uint32_t state = seed * 2654435761u + 1;
    for (unsigned char& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<unsigned char>(state >> 7);
    }
    return bytes;
}

Bytes TextBytes(std::size_t size, const std::string& tag) {
    Bytes bytes;
    bytes.reserve(size);
    for (unsigned line = 0; bytes.size() < size; ++line) {
        char text[128];
        std::snprintf(text, sizeof text, "%s line %u\r\n", tag.c_str(), line);
        for (const char* c = text; *c && bytes.size() < size; ++c) bytes.push_back(*c);
    }
    return bytes;
}

std::string ProgramMenuFolder() {
    char path[MAX_PATH] = "";
    SHGetSpecialFolderPathA(nullptr, path, CSIDL_COMMON_PROGRAMS, TRUE);
    return path;
}

int SetInstallDir(const std::string& subKey, const std::string& folder) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, subKey.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return 0;
    LONG result =
        RegSetValueExA(key, "InstallDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                       static_cast<DWORD>(folder.size() + 1));
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

void DeleteKey(const std::string& subKey) {
    RegDeleteKeyA(HKEY_CURRENT_USER, subKey.c_str());
    // Fails while the parent still holds other keys, which is what we want.
    std::size_t cut = subKey.rfind('\\');
    if (cut != std::string::npos) RegDeleteKeyA(HKEY_CURRENT_USER, subKey.substr(0, cut).c_str());
}

void UnmanagedWindows() {
    std::string subKey =
        std::string("Software\\Wine\\AppDefaults\\") + PROGRAM_NAME + "\\X11 Driver";
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, subKey.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
    RegCloseKey(key);
}

void ForgetUnmanagedWindows() {
    DeleteKey(std::string("Software\\Wine\\AppDefaults\\") + PROGRAM_NAME + "\\X11 Driver");
}

int MakeProgram(const std::string& templateExe, const std::string& exe, const Bytes& package) {
    SetFileAttributesA(exe.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!CopyFileA(templateExe.c_str(), exe.c_str(), FALSE)) return 0;
    HANDLE update = BeginUpdateResourceA(exe.c_str(), FALSE);
    if (!update) return 0;
    // An empty package would delete the resource instead; no test asks for that here.
    BOOL ok = !package.empty() && UpdateResourceA(update, MAKEINTRESOURCEA(10), MAKEINTRESOURCEA(1),
                                                  1033, const_cast<unsigned char*>(package.data()),
                                                  static_cast<DWORD>(package.size()));
    return EndUpdateResourceA(update, !ok) && ok;
}

namespace {

// This process's environment with TMP and TEMP pointing at `tempFolder`.
std::vector<char> EnvironmentWithTemp(const std::string& tempFolder) {
    std::vector<char> block;
    char* strings = GetEnvironmentStringsA();
    for (const char* entry = strings; *entry; entry += std::strlen(entry) + 1) {
        if (_strnicmp(entry, "TMP=", 4) == 0 || _strnicmp(entry, "TEMP=", 5) == 0) continue;
        block.insert(block.end(), entry, entry + std::strlen(entry) + 1);
    }
    FreeEnvironmentStringsA(strings);
    for (const char* name : {"TMP=", "TEMP="}) {
        std::string entry = name + tempFolder;
        block.insert(block.end(), entry.begin(), entry.end());
        block.push_back('\0');
    }
    block.push_back('\0');
    return block;
}

struct DialogSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM parameter) {
    DialogSearch* search = reinterpret_cast<DialogSearch*>(parameter);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    if (processId == search->processId && std::strcmp(name, "#32770") == 0 &&
        IsWindowVisible(window) && GetDlgItem(window, IDC_PROGRESS_BAR)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindDialog(DWORD processId) {
    DialogSearch search = {processId, nullptr};
    EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

int ProcessEnded(const Program& program) {
    return WaitForSingleObject(program.process.hProcess, 0) == WAIT_OBJECT_0;
}

}  // namespace

int StartProgram(const std::string& exe, const std::string& tempFolder, Program* program) {
    std::vector<char> environment = EnvironmentWithTemp(tempFolder);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::string commandLine = "\"" + exe + "\"";
    if (!CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0,
                        environment.data(), nullptr, &startup, &program->process))
        return 0;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < WAIT_LIMIT_MS) {
        program->dialog = FindDialog(program->process.dwProcessId);
        if (program->dialog) return 1;
        if (ProcessEnded(*program)) return 0;
        Sleep(20);
    }
    return 0;
}

DialogView ReadDialog(HWND dialog) {
    DialogView view;
    if (!IsWindow(dialog)) return view;
    view.exists = 1;
    view.updateEnabled = IsWindowEnabled(GetDlgItem(dialog, IDC_UPDATE_BUTTON)) ? 1 : 0;
    view.cancelEnabled = IsWindowEnabled(GetDlgItem(dialog, IDC_CANCEL_BUTTON)) ? 1 : 0;
    DWORD_PTR position = 0;
    if (SendMessageTimeoutA(GetDlgItem(dialog, IDC_PROGRESS_BAR), PBM_GETPOS, 0, 0,
                            SMTO_ABORTIFHUNG, 30000, &position))
        view.progress = static_cast<int>(position);
    return view;
}

void Press(HWND dialog, int id) { PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

void CloseBox(HWND dialog) { PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }

int WaitForDone(const Program& program, DWORD limitMs) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < limitMs) {
        DialogView view = ReadDialog(program.dialog);
        if (!view.exists) return 0;
        if (view.updateEnabled && !view.cancelEnabled && view.progress == 100) return 1;
        Sleep(20);
    }
    return 0;
}

int WaitForRunEnd(const Program& program, DWORD limitMs) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < limitMs) {
        DWORD_PTR mayEnd = 0;
        if (!IsWindow(program.dialog)) return 0;
        if (SendMessageTimeoutA(program.dialog, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF,
                                SMTO_ABORTIFHUNG, 30000, &mayEnd) &&
            mayEnd)
            return 1;
        Sleep(20);
    }
    return 0;
}

int WaitForStagedCopy(const Program& program, const std::string& folder, std::uint64_t bytes,
                      DWORD limitMs) {
    DWORD start = GetTickCount();
    std::string pattern = folder + "\\twn*.tmp";
    while (GetTickCount() - start < limitMs) {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA(pattern.c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            bool large = false;
            do {
                large = large || (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32 |
                                  found.nFileSizeLow) >= bytes;
            } while (!large && FindNextFileA(search, &found));
            FindClose(search);
            if (large) return 1;
        }
        DialogView view = ReadDialog(program.dialog);
        if (!view.exists || (view.updateEnabled && view.progress == 100)) return 0;
        Sleep(2);
    }
    return 0;
}

int WaitForBar(const Program& program, int position, DWORD limitMs) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < limitMs) {
        DialogView view = ReadDialog(program.dialog);
        if (!view.exists) return 0;
        if (view.progress >= position) return 1;
        Sleep(2);
    }
    return 0;
}

int WaitForExit(const Program& program, DWORD limitMs, DWORD* exitCode) {
    if (WaitForSingleObject(program.process.hProcess, limitMs) != WAIT_OBJECT_0) return 0;
    GetExitCodeProcess(program.process.hProcess, exitCode);
    return 1;
}

void Terminate(const Program& program) {
    TerminateProcess(program.process.hProcess, 1);
    WaitForSingleObject(program.process.hProcess, WAIT_LIMIT_MS);
}

void Release(Program* program) {
    if (program->process.hProcess) {
        if (!ProcessEnded(*program)) Terminate(*program);
        CloseHandle(program->process.hProcess);
        CloseHandle(program->process.hThread);
    }
    *program = Program();
}

std::string DisplayName() {
    char name[256] = "";
    DWORD length = GetEnvironmentVariableA("DISPLAY", name, sizeof name);
    return length > 0 && length < sizeof name ? name : "";
}
