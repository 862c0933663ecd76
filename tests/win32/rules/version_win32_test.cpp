// SPDX-License-Identifier: MIT
// The version rule against real version resources: the DLLs in fixtures/ beside this program.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/text.h"
#include "rules/version.h"

namespace {

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
    }
}

}  // namespace
