// SPDX-License-Identifier: MIT
// The version rule against real version resources: the DLLs in fixtures/ beside this program.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/text.h"
#include "rules/version.h"
#include "rules/version_image.h"

namespace {

// The whole of the file at `path`; false when it cannot be read (a missing fixture).
bool ReadBytes(const std::string& path, std::vector<unsigned char>* bytes) {
    bytes->clear();
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD size = GetFileSize(file, nullptr), got = 0;
    bytes->resize(size);
    bool read = size == 0 || (ReadFile(file, bytes->data(), size, &got, nullptr) && got == size);
    CloseHandle(file);
    return read;
}

std::string Fixture(const char* name) {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder(path, length);
    folder.erase(folder.find_last_of('\\') + 1);
    return folder + "fixtures\\" + name;
}

TEST(VersionWin32Test, ReadsProductVersionUnderTheFirstPairOnly) {
    const std::string dots62 = [] {
        std::string text;
        for (int i = 0; i < 31; ++i) text += "1.";
        return text;
    }();
    const struct {
        const char* file;
        int result;
        std::string text;
    } rows[] = {
        {"v2407_commas.dll", 1, "2, 4, 0, 7"},
        {"beta.dll", 1, "beta"},
        {"wraps.dll", 1, "7.12.3456.78901"},
        {"japanese.dll", 1, "5.0.1"},
        {"long63.dll", 1, dots62 + "1"},
        {"long64.dll", 0, ""},
        {"second_pair.dll", 0, ""},
        {"empty_list.dll", 0, ""},
        {"empty_list_tail.dll", 0, ""},
        {"none.dll", 0, ""},
        {"data.txt", 0, ""},
        {"missing.dll", 0, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file);
        char text[VERSION_TEXT_SIZE];
        std::memset(text, 0xCD, sizeof text);
        EXPECT_EQ(row.result, ReadProductVersion(Fixture(row.file).c_str(), text));
        if (row.result) {
            EXPECT_EQ(row.text, text);
        }
    }
}

TEST(VersionWin32Test, IsNewerOrSameOnRealFiles) {
    const struct {
        const char* newFile;
        const char* installedFile;
        int result;
    } rows[] = {
        {"v2407_commas.dll", "v2406_commas.dll", 1},
        {"v2407.dll", "v2407_commas.dll", 1},
        {"v2406.dll", "v2407.dll", 0},
        {"v1_10.dll", "v1_9.dll", 1},
        {"v1_10.dll", "v2_0.dll", 1},
        {"v3200.dll", "v31012.dll", 0},
        {"v1_05.dll", "v1_5.dll", 1},
        {"beta.dll", "v1_0.dll", 0},
        {"wraps.dll", "v1_0.dll", 1},
        {"none.dll", "v9_9.dll", 1},
        {"data.txt", "v9_9.dll", 1},
        {"v1_0.dll", "missing.dll", 1},
        {"second_pair.dll", "v9_9.dll", 1},
        {"v1_0.dll", "second_pair.dll", 1},
        {"long64.dll", "v9_9.dll", 1},
        // The fixed version 9.9.9.9 of every fixture is not looked at; it would give 1 here.
        {"v1_0.dll", "v9_9.dll", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.newFile) + " against " + row.installedFile);
        EXPECT_EQ(row.result,
                  IsNewerOrSame(Fixture(row.newFile).c_str(), Fixture(row.installedFile).c_str()));
        // Read from its bytes, as where no temporary file of it could be made.
        std::vector<unsigned char> bytes;
        ReadBytes(Fixture(row.newFile), &bytes);
        EXPECT_EQ(row.result,
                  IsNewerOrSameImage(bytes.data(), static_cast<std::uint32_t>(bytes.size()),
                                     Fixture(row.installedFile).c_str(), nullptr, 0));
    }
}

// The version read from a program's bytes is the one Windows reads from the file, for every
// fixture the toolchain's resource compiler made.
TEST(VersionWin32Test, ImageReadsAsTheFile) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(Fixture("*").c_str(), &found);
    ASSERT_NE(INVALID_HANDLE_VALUE, search);
    int files = 0;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        SCOPED_TRACE(found.cFileName);
        ++files;
        std::vector<unsigned char> bytes;
        ASSERT_TRUE(ReadBytes(Fixture(found.cFileName), &bytes));
        char fromFile[VERSION_TEXT_SIZE] = "", fromImage[VERSION_TEXT_SIZE] = "";
        int fileResult = ReadProductVersion(Fixture(found.cFileName).c_str(), fromFile);
        EXPECT_EQ(fileResult,
                  ReadImageProductVersion(bytes.data(), static_cast<std::uint32_t>(bytes.size()),
                                          GetUserDefaultLangID(), fromImage));
        if (fileResult) {
            EXPECT_STREQ(fromFile, fromImage);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    EXPECT_GE(files, 20);
}

}  // namespace
