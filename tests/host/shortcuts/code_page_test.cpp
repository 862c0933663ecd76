// Paths in the double-byte code pages, where the second byte of many characters is 0x5C: every
// place that composes or splits a path, from an entry's target to the folders of its shortcut.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/text.h"
#include "fakes/system_fake.h"
#include "rules/targets.h"
#include "shell_setup.h"
#include "shortcuts/shortcuts.h"

namespace {

// Code page 932 bytes; each of the first four ends in 0x5C.
const std::string SO = "\x83\x5C";            // ソ
const std::string YO = "\x97\x5C";            // 予
const std::string HYOU = "\x95\x5C";          // 表
const std::string JI = "\x8E\xA6";            // 示
const std::string TEI = "\x92\xE8";           // 定
const std::string FUTO = "\x83\x74\x83\x67";  // フト

TEST(DoubleByteCodePage, NoSecondByteIsABackslash) {
    const std::string programs = "C:\\Menu";
    const std::string yoteihyo = "C:\\Program Files\\" + YO + TEI + HYOU;  // 予定表
    const std::string hyouji = HYOU + JI;                                  // 表示
    struct Row {
        const char* name;
        unsigned codePage;
        std::string installDir;
        std::string programsDir;
        std::string fileName;
        std::string shortcut;  // <ProgramMenu> is `programsDir`
        std::string target;
        std::string workingDir;
        std::string linkPath;
        std::string description;
        std::vector<std::string> folders;  // every folder the shortcut's chain tries, in order
    } rows[] = {
        {"the install folder 予定表, a shortcut to 表示.exe in ソフト",
         932,
         yoteihyo,
         programs,
         hyouji + ".exe",
         "<ProgramMenu>\\" + SO + FUTO + "\\" + hyouji,
         yoteihyo + "\\" + hyouji + ".exe",
         yoteihyo,
         programs + "\\" + SO + FUTO + "\\" + hyouji + ".lnk",
         hyouji,
         {"C:", programs, programs + "\\" + SO + FUTO}},
        {"only a backslash of its own is dropped from a folder",
         932,
         "C:\\" + YO + "\\",
         "C:\\" + SO + "\\",
         "a.exe",
         "<ProgramMenu>\\" + SO,
         "C:\\" + YO + "\\a.exe",
         "C:\\" + YO,
         "C:\\" + SO + "\\" + SO + ".lnk",
         SO,
         {"C:", "C:\\" + SO}},
        {"a Western code page reads every 0x5C as a backslash",
         1252,
         "C:\\" + YO,
         programs,
         "a.exe",
         "<ProgramMenu>\\" + SO + "\\b",
         "C:\\\x97\\a.exe",
         "C:\\\x97",
         programs + "\\" + SO + "\\b.lnk",
         "b",
         {"C:", programs, programs + "\\\x83", programs + "\\" + SO}},
        {"936: 誠",
         936,
         "C:\\\xD5\x5C",
         programs,
         "a.exe",
         "<ProgramMenu>\\\xD5\x5C\\b",
         "C:\\\xD5\x5C\\a.exe",
         "C:\\\xD5\x5C",
         programs + "\\\xD5\x5C\\b.lnk",
         "b",
         {"C:", programs, programs + "\\\xD5\x5C"}},
        {"950: 成功",
         950,
         "C:\\\xA6\xA8\xA5\x5C",
         programs,
         "\xA5\x5C.exe",
         "<ProgramMenu>\\b",
         "C:\\\xA6\xA8\xA5\x5C\\\xA5\x5C.exe",
         "C:\\\xA6\xA8\xA5\x5C",
         programs + "\\b.lnk",
         "b",
         {"C:", programs}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SetUpShell();
        FakeShellSetSpecialFolder(FOLDER_COMMON_PROGRAMS, row.programsDir);
        FakeSystemSetCodePage(row.codePage);

        char target[PATH_TEXT_SIZE];
        ASSERT_EQ(1, ResolveTargetPath(row.fileName.c_str(), "<InstallDir>", row.installDir.c_str(),
                                       target));
        EXPECT_EQ(row.target, target);
        ApplyShortcutSpecs((row.shortcut + ";").c_str(), target);
        ASSERT_EQ(1u, FakeShellLinks().size());
        EXPECT_EQ(row.linkPath, FakeShellLinks()[0].linkPath);
        EXPECT_EQ(row.workingDir, FakeShellLinks()[0].workingDir);
        EXPECT_EQ(row.description, FakeShellLinks()[0].description);
        std::vector<std::string> folders;
        for (const std::string& call : FakeShellCalls())
            if (call.rfind("mkdir ", 0) == 0) folders.push_back(call.substr(6));
        EXPECT_EQ(row.folders, folders);
    }
    FakeSystemSetCodePage(1252);
}

}  // namespace
