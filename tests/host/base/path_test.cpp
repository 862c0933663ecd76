// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/text.h"
#include "fakes/system_fake.h"

namespace {

TEST(FolderOfFile, KeepsARootsBackslashAndNoSecondByte) {
    struct Row {
        unsigned codePage;
        const char* path;
        int result;
        const char* folder;
    } const rows[] = {
        {1252, "C:\\Program Files\\Notes\\tools\\run.exe", 1, "C:\\Program Files\\Notes\\tools"},
        {1252, "C:\\run.exe", 1, "C:\\"},
        {1252, "\\\\server\\share\\run.exe", 1, "\\\\server\\share"},
        // 予 ends in 0x5C: in code page 932 it is not a backslash.
        {932, "C:\\\x97\x5C\\run.exe", 1, "C:\\\x97\x5C"},
        {932, "C:\\\x97\x5Crun.exe", 1, "C:\\"},
        {1252, "run.exe", 0, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        FakeSystemSetCodePage(row.codePage);
        char folder[PATH_TEXT_SIZE];
        std::memset(folder, 'x', sizeof folder);
        EXPECT_EQ(row.result, FolderOfFile(row.path, folder));
        EXPECT_EQ(std::string(row.folder), folder);
    }
    FakeSystemSetCodePage(1252);
}

}  // namespace
