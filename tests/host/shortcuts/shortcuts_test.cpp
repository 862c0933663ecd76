// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/text.h"
#include "shell_setup.h"
#include "shortcuts/shortcuts.h"

namespace {

constexpr char TARGET[] = "C:\\Program Files\\Example\\tool.exe";
constexpr char TARGET_DIR[] = "C:\\Program Files\\Example";

struct Made {
    std::string linkPath;
    std::string arguments;
    std::string description;
};

class Shortcuts : public ::testing::Test {
protected:
    void SetUp() override { SetUpShell(); }
};

void ExpectLinks(const std::vector<Made>& expected, const char* workingDir = TARGET_DIR) {
    const std::vector<FakeShellLink>& links = FakeShellLinks();
    ASSERT_EQ(expected.size(), links.size());
    for (std::size_t i = 0; i < links.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(expected[i].linkPath, links[i].linkPath);
        EXPECT_EQ(expected[i].arguments, links[i].arguments);
        EXPECT_EQ(expected[i].description, links[i].description);
        EXPECT_EQ(workingDir, links[i].workingDir);
        EXPECT_EQ(TARGET, links[i].targetPath);
    }
}

TEST_F(Shortcuts, ParsesTheShortcutText) {
    const std::string desktop = std::string(DESKTOP_DIR) + "\\";
    const std::string startMenu = std::string(START_MENU_DIR) + "\\";
    const std::string startup = std::string(STARTUP_DIR) + "\\";
    struct Row {
        const char* name;
        const char* text;
        int result;
        std::vector<Made> made;
    } rows[] = {
        {"bare line", "<Desktop>\\App;", 1, {{desktop + "App.lnk", "", "App"}}},
        {"quoted halves with blanks around the semicolon",
         "  \"<Desktop>\\App\" ; \"C:\\My Files\\read me.txt\"  ",
         1,
         {{desktop + "App.lnk", "C:\\My Files\\read me.txt", "App"}}},
        {"three lines in text order, a trailing CR LF adds none",
         "<Desktop>\\A;-a\r\n<StartMenu>\\B;-b\r\n<StartUpMenu>\\C;-c\r\n",
         1,
         {{desktop + "A.lnk", "-a", "A"},
          {startMenu + "B.lnk", "-b", "B"},
          {startup + "C.lnk", "-c", "C"}}},
        {"further semicolons stay inside the arguments",
         "<Desktop>\\App;;-a;-b;;",
         1,
         {{desktop + "App.lnk", "-a;-b", "App"}}},
        {"quotes do not protect a semicolon",
         "\"<Desktop>\\A;B\";x",
         1,
         {{desktop + "A.lnk", "B\";x", "A"}}},
        {"a bare LF is no line break",
         "<Desktop>\\A;-a\n<Desktop>\\B;-b",
         1,
         {{desktop + "A.lnk", "-a\n<Desktop>\\B;-b", "A"}}},
        {"a bare CR is no line break",
         "<Desktop>\\A;-a\r<Desktop>\\B;",
         1,
         {{desktop + "A.lnk", "-a\r<Desktop>\\B", "A"}}},
        {"a line without a semicolon runs into the next",
         "<Desktop>\\A\r\n<Desktop>\\B;-b",
         1,
         {{desktop + "A\r\n<Desktop>\\B.lnk", "-b", "B"}}},
        {"a last line without a semicolon is ignored",
         "<Desktop>\\A;\r\n<Desktop>\\B",
         1,
         {{desktop + "A.lnk", "", "A"}}},
        {"an unknown tag does not stop the next line",
         "<Nowhere>\\A;\r\n<Desktop>\\B;",
         1,
         {{desktop + "B.lnk", "", "B"}}},
        {"tabs are not trimmed", "\t<Desktop>\\A;", 1, {}},
        {"CR LF before the semicolon stays in the link path",
         "<Desktop>\\A\r\n;",
         1,
         {{desktop + "A\r\n.lnk", "", "A\r\n"}}},
        {"no backslash, no description",
         "<Desktop>App;-x",
         1,
         {{std::string(DESKTOP_DIR) + "App.lnk", "-x", ""}}},
        {"no semicolon at all", "<Desktop>\\App", 1, {}},
        {"a lone semicolon", ";", 1, {}},
        {"empty text", "", 0, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SetUpShell();
        EXPECT_EQ(row.result, ApplyShortcutSpecs(row.text, TARGET));
        ExpectLinks(row.made);
    }
}

TEST_F(Shortcuts, TrimSpecCutsTheEndThenSkipsTheStart) {
    struct Row {
        const char* text;
        const char* trimmed;
    } rows[] = {
        {"\"<Desktop>\\App\" ", "<Desktop>\\App"},
        {" ; \" ", ""},
        {"", ""},
        {"a b", "a b"},
        {";a;b;", "a;b"},
        {"\ta\t", "\ta\t"},
        {"a\r\n ", "a\r\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        char buffer[32];
        std::strcpy(buffer, row.text);
        char* cursor = buffer;
        TrimSpec(&cursor);
        EXPECT_STREQ(row.trimmed, cursor);
        EXPECT_GE(cursor, buffer);
        EXPECT_LE(cursor, buffer + std::strlen(row.text));
    }
}

TEST_F(Shortcuts, AnExistingFileIsNeverReplaced) {
    std::string link = std::string(DESKTOP_DIR) + "\\App.lnk";
    FakeShellAddFile(link, "the user's own");
    ApplyShortcutSpecs("<Desktop>\\App;-new\r\n<Desktop>\\Other;", TARGET);
    std::string content;
    ASSERT_TRUE(FakeShellHasFile(link, &content));
    EXPECT_EQ("the user's own", content);
    ExpectLinks({{std::string(DESKTOP_DIR) + "\\Other.lnk", "", "Other"}});

    // A second run over the same text leaves what the first one made.
    ApplyShortcutSpecs("<Desktop>\\App;-new\r\n<Desktop>\\Other;", TARGET);
    EXPECT_EQ(1u, FakeShellLinks().size());
}

TEST_F(Shortcuts, CreatesTheMissingFolderChain) {
    ApplyShortcutSpecs("<ProgramMenu>\\Suite\\Tools\\Tool;", TARGET);
    std::string programs = PROGRAMS_DIR;
    EXPECT_TRUE(FakeShellHasFolder(programs + "\\Suite\\Tools"));
    ExpectLinks({{programs + "\\Suite\\Tools\\Tool.lnk", "", "Tool"}});

    FakeShellReset();
    FakeShellAddFolder("C:");
    CreateFolderChain("C:\\A\\B");
    EXPECT_EQ((std::vector<std::string>{"mkdir C:", "mkdir C:\\A", "mkdir C:\\A\\B"}),
              FakeShellCalls());
    EXPECT_TRUE(FakeShellHasFolder("C:\\A\\B"));

    FakeShellReset();
    CreateFolderChain("\\A");
    EXPECT_EQ((std::vector<std::string>{"mkdir ", "mkdir \\A"}), FakeShellCalls());

    // Something that opens is left alone, even a file.
    FakeShellReset();
    FakeShellAddFile("C:\\A");
    CreateFolderChain("C:\\A");
    EXPECT_TRUE(FakeShellCalls().empty());
}

TEST_F(Shortcuts, WorkingDirectoryIsTheTargetsFolder) {
    struct Row {
        const char* target;
        const char* workingDir;
    } rows[] = {
        {"C:\\tool.exe", "C:"},
        {"tool.exe", "tool.exe"},
        {"\\\\server\\share\\tool.exe", "\\\\server\\share"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.target);
        SetUpShell();
        ApplyShortcutSpecs("<Desktop>\\App;", row.target);
        ASSERT_EQ(1u, FakeShellLinks().size());
        EXPECT_EQ(row.workingDir, FakeShellLinks()[0].workingDir);
        EXPECT_EQ(row.target, FakeShellLinks()[0].targetPath);
    }
}

TEST_F(Shortcuts, PartsThatDoNotFitMakeNoShortcutAndTheNextLineGoesOn) {
    // Link path: desktop folder, "\", the name, ".lnk".
    const std::size_t room = 259 - std::strlen(DESKTOP_DIR) - 1 - 4;
    for (std::size_t extra : {0u, 1u}) {
        SCOPED_TRACE(extra ? "link path of 260" : "link path of 259");
        SetUpShell();
        std::string name(room + extra, 'n');
        std::string text = "<Desktop>\\" + name + ";\r\n<Desktop>\\Next;";
        ApplyShortcutSpecs(text.c_str(), TARGET);
        std::vector<Made> made;
        if (!extra) made.push_back({std::string(DESKTOP_DIR) + "\\" + name + ".lnk", "", name});
        made.push_back({std::string(DESKTOP_DIR) + "\\Next.lnk", "", "Next"});
        ExpectLinks(made);
    }
    for (std::size_t length : {259u, 260u}) {
        SCOPED_TRACE(length);
        SetUpShell();
        std::string target = "C:\\" + std::string(length - 3 - 4, 't') + ".exe";
        ApplyShortcutSpecs("<Desktop>\\A;", target.c_str());
        ASSERT_EQ(length <= 259 ? 1u : 0u, FakeShellLinks().size());
        if (length <= 259) {
            EXPECT_EQ(target, FakeShellLinks()[0].targetPath);
        }
    }
    // A refused line leaves no folders behind either.
    SetUpShell();
    std::string deep = "<Desktop>\\New Folder\\" + std::string(room, 'n') + ";";
    ApplyShortcutSpecs(deep.c_str(), TARGET);
    EXPECT_TRUE(FakeShellCalls().empty());
}

TEST_F(Shortcuts, ShortcutTextMustEndInsideItsField) {
    // The last line ends exactly at byte 4095 with the NUL at 4095: still a text of the field.
    std::string line = "<Desktop>\\A;";
    std::string text(SHORTCUT_TEXT_SIZE - 1 - line.size(), ' ');
    text += line;
    ASSERT_EQ(SHORTCUT_TEXT_SIZE - 1, text.size());
    EXPECT_EQ(1, ApplyShortcutSpecs(text.c_str(), TARGET));
    EXPECT_EQ(1u, FakeShellLinks().size());

    // One byte more and the field holds no NUL: nothing is made from it.
    SetUpShell();
    std::string longer = " " + text;
    EXPECT_EQ(0, ApplyShortcutSpecs(longer.c_str(), TARGET));
    EXPECT_TRUE(FakeShellCalls().empty());
}

TEST_F(Shortcuts, MoveShortcut) {
    const std::string desktop = std::string(DESKTOP_DIR) + "\\";
    const std::string startMenu = std::string(START_MENU_DIR) + "\\";
    struct Row {
        const char* name;
        const char* from;
        const char* to;
        bool sourceThere;
        bool destinationThere;
        bool copiesFail;
        bool sourceKept;
        std::string destinationContent;  // empty: no file there afterwards
    } rows[] = {
        {"moves into a new folder", "<Desktop>\\Old", "<StartMenu>\\Suite\\New", true, false, false,
         false, "old shortcut"},
        {"overwrites an existing destination", "<Desktop>\\Old", "<StartMenu>\\Suite\\New", true,
         true, false, false, "old shortcut"},
        {"an empty to deletes", "<Desktop>\\Old", "", true, false, false, false, ""},
        {"a to without a known tag deletes", "<Desktop>\\Old", "<Nowhere>\\X", true, false, false,
         false, ""},
        {"a from that does not resolve does nothing", "<Nowhere>\\Old", "<StartMenu>\\Suite\\New",
         true, false, false, true, ""},
        {"a from is not trimmed", " <Desktop>\\Old", "<StartMenu>\\Suite\\New", true, false, false,
         true, ""},
        {"a failed copy keeps the source", "<Desktop>\\Old", "<StartMenu>\\Suite\\New", true, false,
         true, true, ""},
        {"a failed copy keeps the destination too", "<Desktop>\\Old", "<StartMenu>\\Suite\\New",
         true, true, true, true, "destination"},
        {"a missing source changes no file", "<Desktop>\\Old", "<StartMenu>\\Suite\\New", false,
         false, false, false, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SetUpShell();
        const std::string source = desktop + "Old.lnk";
        const std::string destination = startMenu + "Suite\\New.lnk";
        if (row.sourceThere) FakeShellAddFile(source, "old shortcut");
        if (row.destinationThere) {
            AddFolderChain(startMenu + "Suite");
            FakeShellAddFile(destination, "destination");
        }
        if (row.copiesFail) FakeShellFailCopies();
        EXPECT_EQ(1, MoveShortcut(row.from, row.to));
        EXPECT_EQ(row.sourceKept, FakeShellHasFile(source) == 1);
        std::string content;
        FakeShellHasFile(destination, &content);
        EXPECT_EQ(row.destinationContent, content);
    }
}

TEST_F(Shortcuts, AMoveWhoseDestinationDoesNotFitKeepsTheShortcut) {
    const std::string source = std::string(DESKTOP_DIR) + "\\Old.lnk";
    FakeShellAddFile(source, "old shortcut");
    std::string to = "<StartMenu>\\" + std::string(250, 'n');
    EXPECT_EQ(1, MoveShortcut("<Desktop>\\Old", to.c_str()));
    EXPECT_TRUE(FakeShellHasFile(source));
    EXPECT_TRUE(FakeShellCalls().empty());
}

}  // namespace
