// SPDX-License-Identifier: MIT
// Paths in the double-byte code pages, where the second byte of many characters is 0x5C: every
// place that composes or splits one, from an entry's target to the folders of its shortcut.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/text.h"
#include "fakes/system_fake.h"
#include "rules/targets.h"
#include "shell_setup.h"
#include "shortcuts/shortcuts.h"

namespace {

struct Made {
    std::string target, workingDir, linkPath, description;
    std::vector<std::string> folders;  // every folder the shortcut's chain tries, in order
};

// 表示.exe in `installDir`, with the shortcut <ProgramMenu>\ソフト\表示 under `programsDir`.
void ExpectMade(unsigned codePage, const std::string& installDir, const std::string& programsDir,
                const Made& want) {
    SCOPED_TRACE(std::to_string(codePage) + " " + installDir);
    SetUpShell();
    FakeShellSetSpecialFolder(FOLDER_COMMON_PROGRAMS, programsDir);
    FakeSystemSetCodePage(codePage);
    char target[PATH_TEXT_SIZE];
    ASSERT_EQ(
        1, ResolveTargetPath("\x95\x5C\x8E\xA6.exe", "<InstallDir>", installDir.c_str(), target));
    ApplyShortcutSpecs("<ProgramMenu>\\\x83\x5C\x83\x74\x83\x67\\\x95\x5C\x8E\xA6;", target);
    FakeSystemSetCodePage(1252);
    EXPECT_EQ(want.target, target);
    ASSERT_EQ(1u, FakeShellLinks().size());
    EXPECT_EQ(want.workingDir, FakeShellLinks()[0].workingDir);
    EXPECT_EQ(want.linkPath, FakeShellLinks()[0].linkPath);
    EXPECT_EQ(want.description, FakeShellLinks()[0].description);
    std::vector<std::string> folders;
    for (const std::string& call : FakeShellCalls())
        if (call.rfind("mkdir ", 0) == 0) folders.push_back(call.substr(6));
    EXPECT_EQ(want.folders, folders);
}

TEST(DoubleByteCodePage, NoSecondByteIsABackslash) {
    // Code page 932 bytes, read alike in 936 and 950: 予 and ソ end in 0x5C, as does 表 of 表示.
    const std::string yo = "C:\\\x97\x5C", so = "C:\\\x83\x5C", hyouji = "\x95\x5C\x8E\xA6";
    const std::string soft = so + "\\\x83\x5C\x83\x74\x83\x67";  // …\ソフト
    for (unsigned codePage : {932u, 936u, 950u}) {
        // Only a backslash of its own is dropped from the end of a folder.
        for (const char* end : {"", "\\"})
            ExpectMade(codePage, yo + end, so + end,
                       {yo + "\\" + hyouji + ".exe",
                        yo,
                        soft + "\\" + hyouji + ".lnk",
                        hyouji,
                        {"C:", so, soft}});
    }
    // A single-byte code page reads every 0x5C as a backslash, as the original design did.
    const std::string cut = "C:\\\x83", linkDir = cut + "\\\x83\x5C\x83\x74\x83\x67";
    ExpectMade(1252, yo, so,
               {"C:\\\x97\\" + hyouji + ".exe",
                "C:\\\x97\\\x95",
                linkDir + "\\" + hyouji + ".lnk",
                "\x8E\xA6",
                {"C:", cut, cut + "\\\x83", linkDir, linkDir + "\\\x95"}});
}

}  // namespace
