// SPDX-License-Identifier: MIT
#include "engine_support.h"

#include <cstdio>
#include <map>

std::string ProgramFolder() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder(path, length);
    return folder.substr(0, folder.rfind('\\'));
}

std::string TempFolder() {
    char path[MAX_PATH];
    DWORD length = GetTempPathA(sizeof path, path);
    return std::string(path, length);
}

std::string MakeTestFolder(const std::string& tag) {
    static int counter;
    char name[MAX_PATH];
    std::snprintf(name, sizeof name, "%sTidewell %s %lu-%d", TempFolder().c_str(), tag.c_str(),
                  GetCurrentProcessId(), ++counter);
    RemoveTree(name);
    CreateDirectoryA(name, nullptr);
    return name;
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

std::vector<unsigned char> ReadBytes(const std::string& path) {
    std::vector<unsigned char> bytes;
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

int WriteBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

int Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::set<std::string> FilesIn(const std::string& folder, const std::string& pattern) {
    std::set<std::string> names;
    std::string base = folder;
    if (!base.empty() && base.back() != '\\') base += '\\';
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((base + pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.insert(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

namespace {

std::map<HMODULE, std::string>& ModuleCopies() {
    static std::map<HMODULE, std::string> copies;
    return copies;
}

}  // namespace

HMODULE LoadPackageModule(const std::vector<unsigned char>& package, int withPackage) {
    static int counter;
    char copy[MAX_PATH];
    std::snprintf(copy, sizeof copy, "%stw_package_%lu_%d.dll", TempFolder().c_str(),
                  GetCurrentProcessId(), ++counter);
    if (!CopyFileA((ProgramFolder() + "\\package_host.dll").c_str(), copy, FALSE)) return nullptr;
    if (withPackage) {
        HANDLE update = BeginUpdateResourceA(copy, FALSE);
        if (!update) return nullptr;
        BOOL ok = UpdateResourceA(update, MAKEINTRESOURCEA(10), MAKEINTRESOURCEA(1), 1033,
                                  const_cast<unsigned char*>(package.data()),
                                  static_cast<DWORD>(package.size()));
        if (!EndUpdateResourceA(update, !ok) || !ok) return nullptr;
    }
    HMODULE module = LoadLibraryA(copy);
    if (module) ModuleCopies()[module] = copy;
    return module;
}

void UnloadPackageModule(HMODULE module) {
    if (!module) return;
    std::string copy = ModuleCopies()[module];
    ModuleCopies().erase(module);
    FreeLibrary(module);
    DeleteFileA(copy.c_str());
}
