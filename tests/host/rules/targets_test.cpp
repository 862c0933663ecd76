// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/text.h"
#include "fakes/rules_fake.h"
#include "rules/targets.h"

namespace {

const char* const INSTALL_DIR = "C:\\Apps\\Example";

class ResolveTargetPathTest : public ::testing::Test {
protected:
    void SetUp() override { FakeSetWindowsFolders("C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM32"); }
    void TearDown() override { FakeResetWindowsFolders(); }
};

struct TargetRow {
    const char* name;
    const char* installDir;  // null: no install folder
    std::string folder;
    std::string fileName;
    int result;
    std::string path;  // on 0 the output must be untouched
};

void Check(const TargetRow& row) {
    SCOPED_TRACE(row.name);
    char output[PATH_TEXT_SIZE];
    std::memset(output, 0xCD, sizeof output);
    char installDir[PATH_TEXT_SIZE];
    if (row.installDir) std::strcpy(installDir, row.installDir);
    EXPECT_EQ(row.result, ResolveTargetPath(row.fileName.c_str(), row.folder.c_str(),
                                            row.installDir ? installDir : nullptr, output));
    if (row.result) {
        EXPECT_EQ(row.path, std::string(output, TextLength(output, sizeof output)));
    } else {
        for (unsigned char byte : output) ASSERT_EQ(0xCD, byte) << "output written";
    }
    // Only the copy of the base folder loses its backslash.
    if (row.installDir) {
        EXPECT_STREQ(row.installDir, installDir);
    }
}

TEST_F(ResolveTargetPathTest, ComposesBaseRestAndFileName) {
    const TargetRow rows[] = {
        {"install folder", INSTALL_DIR, "<InstallDir>", "tool.exe", 1,
         "C:\\Apps\\Example\\tool.exe"},
        {"system folder", INSTALL_DIR, "<SystemDir>", "shared.dll", 1,
         "C:\\WINDOWS\\SYSTEM32\\shared.dll"},
        {"Windows folder", INSTALL_DIR, "<WindowsDir>", "win.ini", 1, "C:\\WINDOWS\\win.ini"},
        {"placeholder in lower case", INSTALL_DIR, "<installdir>\\Help", "guide.txt", 1,
         "C:\\Apps\\Example\\Help\\guide.txt"},
        {"placeholder in upper case", INSTALL_DIR, "<SYSTEMDIR>", "a.dll", 1,
         "C:\\WINDOWS\\SYSTEM32\\a.dll"},
        {"rest without backslash", INSTALL_DIR, "<InstallDir>Data", "a.dat", 1,
         "C:\\Apps\\ExampleData\\a.dat"},
        {"rest ending in a backslash", INSTALL_DIR, "<InstallDir>\\Help\\", "guide.txt", 1,
         "C:\\Apps\\Example\\Help\\\\guide.txt"},
        {"install folder ending in a backslash", "C:\\Apps\\Example\\", "<InstallDir>", "tool.exe",
         1, "C:\\Apps\\Example\\tool.exe"},
        {"drive root", "C:\\", "<InstallDir>", "tool.exe", 1, "C:\\tool.exe"},
        {"only one backslash removed", "C:\\Apps\\\\", "<InstallDir>", "tool.exe", 1,
         "C:\\Apps\\\\tool.exe"},
        {"empty install folder", "", "<InstallDir>", "tool.exe", 1, "\\tool.exe"},
        {"file name with a folder", INSTALL_DIR, "<InstallDir>", "Help\\guide.txt", 1,
         "C:\\Apps\\Example\\Help\\guide.txt"},
        {"empty file name", INSTALL_DIR, "<InstallDir>", "", 1, "C:\\Apps\\Example\\"},
        {"no install folder, other placeholder", nullptr, "<WindowsDir>", "a.ini", 1,
         "C:\\WINDOWS\\a.ini"},
        // No target at all.
        {"no install folder", nullptr, "<InstallDir>", "tool.exe", 0, ""},
        {"empty folder", INSTALL_DIR, "", "tool.exe", 0, ""},
        {"leading blank", INSTALL_DIR, " <InstallDir>", "tool.exe", 0, ""},
        {"absolute path", INSTALL_DIR, "C:\\Fixed", "tool.exe", 0, ""},
        {"shortcut placeholder", INSTALL_DIR, "<Desktop>", "tool.exe", 0, ""},
        {"placeholder cut short", INSTALL_DIR, "<InstallDir", "tool.exe", 0, ""},
        {"no angle brackets", INSTALL_DIR, "InstallDir", "tool.exe", 0, ""},
    };
    for (const TargetRow& row : rows) Check(row);
}

TEST_F(ResolveTargetPathTest, PathsLongerThan259CharactersGetNoTarget) {
    // "C:\" + n x's + "\f": 6 + n characters, after the base's own backslash is handled.
    const std::string base = "C:\\" + std::string(250, 'x');  // 253 characters
    const std::string trailing = base + "\\";                 // 254 characters
    const TargetRow rows[] = {
        {"259 characters", base.c_str(), "<InstallDir>", "abcde", 1, base + "\\abcde"},
        {"260 characters", base.c_str(), "<InstallDir>", "abcdef", 0, ""},
        {"259 with the base's backslash dropped", trailing.c_str(), "<InstallDir>", "abcde", 1,
         base + "\\abcde"},
        {"260 with the base's backslash dropped", trailing.c_str(), "<InstallDir>", "abcdef", 0,
         ""},
        {"259 by the rest", base.c_str(), "<InstallDir>\\ab", "cd", 1, base + "\\ab\\cd"},
        {"260 by the rest", base.c_str(), "<InstallDir>\\abc", "cd", 0, ""},
        {"long file name alone", "C:", "<InstallDir>", std::string(256, 'f'), 1,
         "C:\\" + std::string(256, 'f')},
        {"longer file name alone", "C:", "<InstallDir>", std::string(257, 'f'), 0, ""},
    };
    for (const TargetRow& row : rows) Check(row);
}

TEST_F(ResolveTargetPathTest, UnknownWindowsFoldersGiveNoTarget) {
    FakeSetWindowsFolders(nullptr, nullptr);
    Check({"Windows folder unknown", INSTALL_DIR, "<WindowsDir>", "a.ini", 0, ""});
    Check({"system folder unknown", INSTALL_DIR, "<SystemDir>", "a.dll", 0, ""});
    Check({"install folder still known", INSTALL_DIR, "<InstallDir>", "a.exe", 1,
           "C:\\Apps\\Example\\a.exe"});

    FakeSetWindowsFolders("C:\\WINDOWS\\", "D:\\");
    Check({"Windows folder with backslash", INSTALL_DIR, "<WindowsDir>", "a.ini", 1,
           "C:\\WINDOWS\\a.ini"});
    Check({"system folder at a drive root", INSTALL_DIR, "<SystemDir>\\sub", "a.dll", 1,
           "D:\\sub\\a.dll"});
}

}  // namespace
