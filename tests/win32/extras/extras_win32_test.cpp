// SPDX-License-Identifier: MIT
// What the steps' Win32 side answers for each kind of place, against our own files and keys.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "extras/extras_seam.h"

namespace {

const char KEY[] = "Software\\Tidewell Test\\Extras";

std::string TempPath(const char* name) {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    return std::string(folder) + "tidewell-extras-" + name;
}

void MakeFile(const std::string& path, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << path;
    CloseHandle(file);
}

TEST(ExtrasWin32, FilesAndFolders) {
    std::string folder = TempPath("folder"), plain = TempPath("plain.dll"),
                readOnly = TempPath("readonly.dll"), held = TempPath("held.dll"),
                missing = TempPath("missing.dll");
    RemoveDirectoryA((folder + "\\inner").c_str());
    RemoveDirectoryA(folder.c_str());
    ASSERT_EQ(1, CreateOneFolder(folder.c_str()));
    ASSERT_EQ(1, CreateOneFolder((folder + "\\inner").c_str()));
    EXPECT_EQ(0, CreateOneFolder(folder.c_str())) << "already there";
    EXPECT_EQ(0, RemoveEmptyFolder(folder.c_str())) << "not empty";
    MakeFile(plain);
    SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
    MakeFile(readOnly, FILE_ATTRIBUTE_READONLY);
    MakeFile(held);
    DeleteFileA(missing.c_str());

    const struct {
        std::string path;
        PathKind kind;
    } kinds[] = {{folder, PATH_FOLDER},
                 {plain, PATH_FILE},
                 {readOnly, PATH_OTHER},
                 {missing, PATH_NONE},
                 {missing + "\\below", PATH_NONE}};
    for (const auto& row : kinds) EXPECT_EQ(row.kind, GetPathKind(row.path.c_str())) << row.path;

    // Held open without delete sharing, as a running program or a service holds its file.
    HANDLE holder = CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    const struct {
        std::string path;
        FileRemoval removal;
        bool gone;
    } removals[] = {{plain, FILE_REMOVED, true},
                    {missing, FILE_GONE, true},
                    {held, FILE_HELD, false},
                    {readOnly, FILE_NOT_REMOVED, false}};
    for (const auto& row : removals) {
        EXPECT_EQ(row.removal, RemoveOneFile(row.path.c_str())) << row.path;
        EXPECT_EQ(row.gone, GetFileAttributesA(row.path.c_str()) == INVALID_FILE_ATTRIBUTES)
            << row.path;
    }
    CloseHandle(holder);
    DeleteFileA(held.c_str());
    SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(readOnly.c_str());
    EXPECT_EQ(1, RemoveEmptyFolder((folder + "\\inner").c_str()));
    EXPECT_EQ(1, RemoveEmptyFolder(folder.c_str()));
}

TEST(ExtrasWin32, ValuesOnlyInAKeyThatExists) {
    RegDeleteKeyA(HKEY_CURRENT_USER, KEY);
    std::string missing = std::string(KEY) + "\\Missing";
    EXPECT_EQ(VALUE_NO_KEY, WriteRegistryValue(REGISTRY_CURRENT_USER, KEY, 0, "DisplayVersion",
                                               EXTRAS_REG_SZ, "3.1", 0));
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, KEY, 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, nullptr));
    RegCloseKey(key);
    EXPECT_EQ(VALUE_WRITTEN, WriteRegistryValue(REGISTRY_CURRENT_USER, KEY, 0, "DisplayVersion",
                                                EXTRAS_REG_SZ, "3.1", 0));
    EXPECT_EQ(VALUE_WRITTEN, WriteRegistryValue(REGISTRY_CURRENT_USER, KEY, 0, "Build",
                                                EXTRAS_REG_DWORD, "", 139));
    char text[16] = "garbage";
    DWORD number = 0xDEADBEEF, size = sizeof text, type = REG_NONE;
    ASSERT_EQ(ERROR_SUCCESS, RegGetValueA(HKEY_CURRENT_USER, KEY, "DisplayVersion", RRF_RT_ANY,
                                          &type, text, &size));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_STREQ("3.1", text);
    size = sizeof number;
    ASSERT_EQ(ERROR_SUCCESS,
              RegGetValueA(HKEY_CURRENT_USER, KEY, "Build", RRF_RT_ANY, &type, &number, &size));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    EXPECT_EQ(139u, number);
    // A key below that is not there stays not there.
    EXPECT_EQ(VALUE_NO_KEY, WriteRegistryValue(REGISTRY_CURRENT_USER, missing.c_str(), 0, "X",
                                               EXTRAS_REG_SZ, "y", 0));
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, missing.c_str(), 0, KEY_READ, &key));
    RegDeleteKeyA(HKEY_CURRENT_USER, KEY);
}

}  // namespace
