// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/globals.h"
#include "engine/retry.h"
#include "extras/extras_writer.h"
#include "fakes/engine_fake.h"
#include "fakes/extras_fake.h"
#include "package/package.h"
#include "package/package_writer.h"

namespace {

using Calls = std::vector<std::string>;

int g_dialogToken;
void* const kDialog = &g_dialogToken;

std::vector<unsigned char> Bytes(const std::string& text) {
    return std::vector<unsigned char>(text.begin(), text.end());
}

WriterEntry Entry(const std::string& fileName, const std::string& folder, std::uint32_t flags,
                  const std::string& data, const std::string& shortcutText = "") {
    WriterEntry entry;
    entry.fileName = fileName;
    entry.folder = folder;
    entry.flags = flags;
    entry.data = Bytes(data);
    entry.shortcutText = shortcutText;
    return entry;
}

WriterPackage BasePackage() {
    WriterPackage package;
    package.title = "Example Suite";
    package.versionText = "2.0";
    package.registryKey = "HKEY_LOCAL_MACHINE\\Software\\Example";
    package.valueName = "Path";
    package.defaultFolder = "C:\\Apps\\Example";
    return package;
}

std::vector<unsigned char> Build(const WriterPackage& package) {
    std::vector<unsigned char> bytes;
    std::string error;
    EXPECT_EQ(1, BuildPackage(package, &bytes, &error)) << error;
    return bytes;
}

PackageEntry* EntryAt(std::vector<unsigned char>& bytes, int index) {
    return reinterpret_cast<PackageEntry*>(bytes.data() + HEADER_SIZE + ENTRY_SIZE * index);
}

class Engine : public ::testing::Test {
protected:
    void SetUp() override { FakeEngineReset(); }
    void TearDown() override {
        EXPECT_EQ(0, FakeEngineState().loadsHeld) << "the package is freed on every path";
        EXPECT_EQ(0, FakeEngineState().buffersHeld) << "every entry buffer is freed";
        EXPECT_EQ(0, FakeEngineState().tempFilesHeld) << "every held temporary file is released";
    }

    int Run(const std::vector<unsigned char>& package) {
        FakeEngineState().package = package;
        return RunUpdate(kDialog);
    }
    static const Calls& AllCalls() { return FakeEngineState().calls; }
};

const Calls kCompletion = {"SetProgress 100",       "Summary",       "FinishText",
                           "EnableUpdate 1 done=1", "DisableCancel", "FocusUpdate"};

Calls Concat(std::initializer_list<Calls> parts) {
    Calls all;
    for (const Calls& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// Index of the first recorded call equal to `call`, or -1.
int IndexOf(const std::string& call) {
    const Calls& calls = FakeEngineState().calls;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (calls[i] == call) return static_cast<int>(i);
    }
    return -1;
}

TEST_F(Engine, OneEntryRunsEveryStepInOrder) {
    WriterPackage package = BasePackage();
    package.entries = {
        Entry("tool.exe", "<InstallDir>", ENTRY_RUN_AFTER, "new tool", "<Desktop>\\Tool;")};
    package.moves = {{"<Desktop>\\Old", "<ProgramMenu>\\New"}};

    ASSERT_EQ(1, Run(Build(package)));

    const std::string temp = "C:\\Temp\\vq1.tmp";
    const std::string target = "C:\\Apps\\Example\\tool.exe";
    EXPECT_EQ(Concat({{"EnableUpdate 0",
                       "SetProgress 0",
                       "FindResource",
                       "LoadResource",
                       "LockResource",
                       "SizeofResource",
                       "FindWindow ",
                       "FindWindow ",
                       "FindWindow ",
                       "FindWindow ",
                       "FindWindow ",
                       "ResolveInstallDir",
                       "GetTempPath",
                       "Alloc 9",
                       "ResolveTargetPath tool.exe|<InstallDir>",
                       "Exists " + target,
                       "GetTempFileName " + temp,
                       "Write " + temp + " 8",
                       "Hold " + temp,
                       "IsNewerOrSame " + temp + " > " + target,
                       "Release",
                       "Replace " + target,
                       "FinishReplaces",
                       "Exists " + target,
                       "Shortcuts <Desktop>\\Tool; > " + target,
                       "Free",
                       "SetProgress 100",
                       "FinishReplaces",
                       "RunAndWait " + target,
                       "Move <Desktop>\\Old > <ProgramMenu>\\New",
                       "FreeResource"},
                      kCompletion}),
              AllCalls());
    EXPECT_EQ(Bytes("new tool"), FakeEngineState().files[target]);
    EXPECT_EQ(Bytes("new tool"), FakeEngineState().files[temp]) << "the temporary file stays";
    EXPECT_EQ(1, g_done);
}

TEST_F(Engine, EachEndLeavesTheDialogAsItShould) {
    WriterPackage package = BasePackage();
    package.entries = {Entry("a.txt", "<InstallDir>", 0, "a")};
    const std::vector<unsigned char> whole = Build(package);
    const std::vector<unsigned char> shortOfHeader(whole.begin(), whole.begin() + HEADER_SIZE - 1);
    const Calls start = {"EnableUpdate 0", "SetProgress 0", "FindResource"};

    struct Row {
        const char* name;
        FakePackageState state;
        std::vector<unsigned char> package;
        int result;
        Calls calls;
    };
    const Row rows[] = {
        {"resource missing: completes without applying", FAKE_PACKAGE_MISSING, whole, 1,
         Concat({start, kCompletion})},
        {"not loadable: stops with Update disabled", FAKE_PACKAGE_NOT_LOADED, whole, 0,
         Concat({start, {"LoadResource"}})},
        {"not lockable: freed, stops", FAKE_PACKAGE_NOT_LOCKED, whole, 0,
         Concat({start, {"LoadResource", "LockResource", "FreeResource"}})},
        {"shorter than its header: freed, stops", FAKE_PACKAGE_PRESENT, shortOfHeader, 0,
         Concat({start, {"LoadResource", "LockResource", "SizeofResource", "FreeResource"}})},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeEngineReset();
        FakeEngineState().packageState = row.state;
        EXPECT_EQ(row.result, Run(row.package));
        EXPECT_EQ(row.calls, AllCalls());
        EXPECT_EQ(row.result, g_done);
    }
}

TEST_F(Engine, FirstRunningApplicationBlocksWithItsOwnMessage) {
    WriterPackage package = BasePackage();
    package.runningApps = {
        {"", "unused"}, {"MainWnd", "Close Main."}, {"HelperWnd", "Close Helper."}};
    package.entries = {Entry("a.txt", "<InstallDir>", ENTRY_ALWAYS_REPLACE, "a")};
    FakeEngineState().runningClasses = {"MainWnd", "HelperWnd"};

    EXPECT_EQ(0, Run(Build(package)));

    EXPECT_EQ((Calls{"EnableUpdate 0", "SetProgress 0", "FindResource", "LoadResource",
                     "LockResource", "SizeofResource", "FindWindow ", "FindWindow MainWnd",
                     "MessageBox Close Main.|Example Suite", "EnableUpdate 1 done=0", "FocusUpdate",
                     "FreeResource"}),
              AllCalls());
    EXPECT_EQ(0, g_done);

    // Once the application is closed, a new press repeats the whole run.
    FakeEngineState().calls.clear();
    FakeEngineState().runningClasses.clear();
    EXPECT_EQ(1, RunUpdate(kDialog));
    EXPECT_EQ(5u, FakeEngineCalls("FindWindow").size());
    EXPECT_EQ(1u, FakeEngineCalls("Replace").size());
}

TEST_F(Engine, DecisionPerEntry) {
    WriterPackage package = BasePackage();
    package.entries = {
        Entry("always.dll", "<InstallDir>", ENTRY_ALWAYS_REPLACE, "always"),
        Entry("older.dll", "<InstallDir>", 0, "older"),
        Entry("newer.dll", "<SystemDir>", 0, "newer"),
        Entry("nowhere.dll", "C:\\Fixed", ENTRY_RUN_AFTER, "nowhere", "<Desktop>\\X;"),
        Entry("other.dll", "<InstallDir>", 0x0E | 0x20, "other bits"),
        Entry("fresh.dll", "<InstallDir>", 0, "fresh"),
    };
    FakeEngineState().installDir = "D:\\Prod";
    // The installed copy claims a higher version: only the rule can keep it.
    FakeEngineState().newerOrSame = {
        {"D:\\Prod\\always.dll", 0}, {"D:\\Prod\\older.dll", 0}, {"D:\\Prod\\fresh.dll", 0}};
    // Nothing installed: the rule's answer is known without reading either file.
    FakeEngineState().missingTargets = {"D:\\Prod\\fresh.dll"};

    ASSERT_EQ(1, Run(Build(package)));

    EXPECT_EQ((Calls{"IsNewerOrSame C:\\Temp\\vq2.tmp > D:\\Prod\\older.dll",
                     "IsNewerOrSame C:\\Temp\\vq3.tmp > C:\\WINDOWS\\system32\\newer.dll",
                     "IsNewerOrSame C:\\Temp\\vq4.tmp > D:\\Prod\\other.dll"}),
              FakeEngineCalls("IsNewerOrSame"))
        << "ENTRY_ALWAYS_REPLACE skips the rule; other flag bits change nothing";
    EXPECT_EQ((Calls{"Replace D:\\Prod\\always.dll", "Replace C:\\WINDOWS\\system32\\newer.dll",
                     "Replace D:\\Prod\\other.dll", "Replace D:\\Prod\\fresh.dll"}),
              FakeEngineCalls("Replace"));
    EXPECT_EQ(5u, FakeEngineCalls("GetTempFileName").size())
        << "a temporary file for each entry with a target, replaced or not";
    EXPECT_TRUE(FakeEngineCalls("RunAndWait").empty()) << "no target: no run-after";
    EXPECT_TRUE(FakeEngineCalls("Shortcuts").empty()) << "no target: no shortcuts";
    EXPECT_EQ(6u, FakeEngineCalls("SetProgress").size() - 2) << "every entry moves the bar";
}

TEST_F(Engine, RunAfterInEntryOrderThenMoves) {
    WriterPackage package = BasePackage();
    package.entries = {
        Entry("setup.exe", "<InstallDir>", ENTRY_RUN_AFTER, "setup"),
        Entry("data.bin", "<InstallDir>", 0, "data"),
        Entry("fix.exe", "<InstallDir>\\Bin", ENTRY_RUN_AFTER | ENTRY_ALWAYS_REPLACE, "fix"),
        Entry("setup.exe", "<InstallDir>", ENTRY_RUN_AFTER, "setup again"),
    };
    package.moves = {{"<Desktop>\\A", "<Desktop>\\B"}, {"<Desktop>\\C", ""}};
    // The installed setup.exe is newer: not replaced, but it still runs.
    FakeEngineState().newerOrSame = {{"C:\\Apps\\Example\\setup.exe", 0}};

    ASSERT_EQ(1, Run(Build(package)));

    EXPECT_EQ((Calls{"RunAndWait C:\\Apps\\Example\\setup.exe",
                     "RunAndWait C:\\Apps\\Example\\Bin\\fix.exe",
                     "RunAndWait C:\\Apps\\Example\\setup.exe"}),
              FakeEngineCalls("RunAndWait"));
    EXPECT_EQ(
        (Calls{"Replace C:\\Apps\\Example\\data.bin", "Replace C:\\Apps\\Example\\Bin\\fix.exe"}),
        FakeEngineCalls("Replace"));
    const Calls& calls = AllCalls();
    int lastProgress = -1, firstRun = -1, lastRun = -1, firstMove = -1, lastMove = -1;
    for (int i = 0; i < static_cast<int>(calls.size()); ++i) {
        if (calls[i].rfind("SetProgress", 0) == 0 && calls[i] != "SetProgress 100")
            lastProgress = i;
        if (calls[i].rfind("RunAndWait", 0) == 0) {
            if (firstRun < 0) firstRun = i;
            lastRun = i;
        }
        if (calls[i].rfind("Move", 0) == 0) {
            if (firstMove < 0) firstMove = i;
            lastMove = i;
        }
    }
    EXPECT_LT(lastProgress, firstRun) << "programs run once every entry is done";
    EXPECT_LT(lastRun, firstMove) << "moves only after every program has ended";
    EXPECT_LT(lastMove, IndexOf("FreeResource"));
    EXPECT_EQ((Calls{"Move <Desktop>\\A > <Desktop>\\B", "Move <Desktop>\\C > "}),
              FakeEngineCalls("Move"));
}

TEST_F(Engine, EveryMarkedProgramRunsBeyondSixteen) {
    WriterPackage package = BasePackage();
    Calls expected;
    for (int i = 0; i < 20; ++i) {
        std::string name = "p" + std::to_string(i) + ".exe";
        package.entries.push_back(Entry(name, "<InstallDir>", ENTRY_RUN_AFTER, name));
        expected.push_back("RunAndWait C:\\Apps\\Example\\" + name);
    }
    ASSERT_EQ(1, Run(Build(package)));
    EXPECT_EQ(expected, FakeEngineCalls("RunAndWait"));
}

TEST_F(Engine, DamagedDataNeverReachesTheTarget) {
    struct Row {
        const char* name;
        void (*damage)(std::vector<unsigned char>&);
    };
    const Row rows[] = {
        {"corrupt byte in the deflate data",
         [](std::vector<unsigned char>& bytes) {
             bytes[EntryAt(bytes, 0)->streamOffset + 4] ^= 0x55;
         }},
        {"stream shorter than size",
         [](std::vector<unsigned char>& bytes) { EntryAt(bytes, 0)->size += 1; }},
        {"stream longer than size",
         [](std::vector<unsigned char>& bytes) { EntryAt(bytes, 0)->size -= 1; }},
        {"stream outside the package",
         [](std::vector<unsigned char>& bytes) { EntryAt(bytes, 0)->streamOffset = 0xFFFFFFF0u; }},
        {"stream cut short",
         [](std::vector<unsigned char>& bytes) { EntryAt(bytes, 0)->compressedSize -= 3; }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeEngineReset();
        WriterPackage package = BasePackage();
        package.entries = {
            Entry("tool.exe", "<InstallDir>", ENTRY_ALWAYS_REPLACE | ENTRY_RUN_AFTER,
                  std::string(300, 'T'), "<Desktop>\\Tool;"),
            Entry("next.dll", "<InstallDir>", ENTRY_ALWAYS_REPLACE, "next"),
        };
        std::vector<unsigned char> bytes = Build(package);
        row.damage(bytes);
        const std::string target = "C:\\Apps\\Example\\tool.exe";
        FakeEngineState().files[target] = Bytes("installed");

        ASSERT_EQ(1, Run(bytes));

        EXPECT_EQ(Bytes("installed"), FakeEngineState().files[target]);
        EXPECT_EQ((Calls{"Replace C:\\Apps\\Example\\next.dll"}), FakeEngineCalls("Replace"))
            << "no temporary file for the damaged entry; the next one is applied";
        EXPECT_EQ((Calls{"RunAndWait " + target}), FakeEngineCalls("RunAndWait"))
            << "what runs is whatever file is at the target";
        EXPECT_EQ(1u, FakeEngineCalls("Shortcuts").size());
        EXPECT_EQ((Calls{"SetProgress 0",
                         "SetProgress " + std::to_string(EntryAt(bytes, 0)->size * 100 /
                                                         (EntryAt(bytes, 0)->size + 4)),
                         "SetProgress 100", "SetProgress 100"}),
                  FakeEngineCalls("SetProgress"));
    }
}

// The temporary file is not what replaces the target: where none can be left, the entry is
// still applied, the rule reading the packaged copy's version from the data, and the run
// counts it.
TEST_F(Engine, EntryAppliedWithOrWithoutATemporaryFile) {
    const std::string target = "C:\\Apps\\Example\\tool.exe";
    const std::uint32_t always = ENTRY_ALWAYS_REPLACE | ENTRY_RUN_AFTER;
    struct Row {
        const char* name;
        std::uint32_t flags;
        void (*setup)(FakeEngine&);
        const char* installed;  // afterwards
        int withoutTempFile;
        int rulesFromData;
    };
    auto none = [](FakeEngine&) {};
    auto noFolder = [](FakeEngine& fake) { fake.tempFolderResult = 0; };
    auto noName = [](FakeEngine& fake) { fake.tempFileFails = 1; };
    auto writeFails = [](FakeEngine& fake) { fake.failingWrites = {"C:\\Temp\\vq1.tmp"}; };
    auto keptByRule = [](FakeEngine& fake) {
        fake.tempFileFails = 1;
        fake.newerOrSame = {{"C:\\Apps\\Example\\tool.exe", 0}};
    };
    const Row rows[] = {
        {"temporary file made", always, none, "new", 0, 0},
        {"temporary folder unknown", always, noFolder, "new", 1, 0},
        {"every name taken", always, noName, "new", 1, 0},
        {"write incomplete", always, writeFails, "new", 1, 0},
        {"replace refused", always,
         [](FakeEngine& fake) { fake.failingReplaces = {"C:\\Apps\\Example\\tool.exe"}; },
         "installed", 0, 0},
        {"ruled, temporary file made", ENTRY_RUN_AFTER, none, "new", 0, 0},
        {"ruled, no name", ENTRY_RUN_AFTER, noName, "new", 1, 1},
        {"ruled, write incomplete", ENTRY_RUN_AFTER, writeFails, "new", 1, 1},
        {"ruled, no name, installed is newer", ENTRY_RUN_AFTER, keptByRule, "installed", 1, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeEngineReset();
        row.setup(FakeEngineState());
        FakeEngineState().files[target] = Bytes("installed");
        WriterPackage package = BasePackage();
        package.entries = {Entry("tool.exe", "<InstallDir>", row.flags, "new", "<Desktop>\\Tool;"),
                           Entry("other.txt", "C:\\Fixed", 0, "no target")};

        ASSERT_EQ(1, Run(Build(package)));

        EXPECT_EQ(Bytes(row.installed), FakeEngineState().files[target]);
        EXPECT_EQ(row.withoutTempFile ? 0u : 1u, FakeEngineState().files.count("C:\\Temp\\vq1.tmp"))
            << "no partial temporary file is left";
        EXPECT_EQ(1, LastRunTempFiles().entries);
        EXPECT_EQ(row.withoutTempFile, LastRunTempFiles().withoutTempFile);
        EXPECT_EQ(static_cast<std::size_t>(row.rulesFromData),
                  FakeEngineCalls("IsNewerOrSameImage 3 > " + target).size());
        EXPECT_EQ(1u, FakeEngineCalls("RunAndWait").size());
        EXPECT_EQ(1u, FakeEngineCalls("Shortcuts").size());
    }
}

// Another process of the user rewrites each temporary file as soon as it is closed: what is
// installed is the package's data or the file that was there, never the other process's bytes.
TEST_F(Engine, SwappedTemporaryFileNeverReachesTheTarget) {
    WriterPackage package = BasePackage();
    package.entries = {Entry("always.dll", "<InstallDir>", ENTRY_ALWAYS_REPLACE, "always"),
                       Entry("ruled.dll", "<InstallDir>", 0, "ruled")};
    FakeEngineState().swapTempFiles = 1;
    FakeEngineState().files["C:\\Apps\\Example\\ruled.dll"] = Bytes("installed");

    ASSERT_EQ(1, Run(Build(package)));

    EXPECT_EQ(Bytes("always"), FakeEngineState().files["C:\\Apps\\Example\\always.dll"]);
    EXPECT_EQ(Bytes("installed"), FakeEngineState().files["C:\\Apps\\Example\\ruled.dll"])
        << "a changed file gives the rule nothing to decide on: the installed file stays";
    EXPECT_TRUE(FakeEngineCalls("IsNewerOrSame").empty());
}

TEST_F(Engine, UnallocatedBufferSkipsOnlyItsEntry) {
    WriterPackage package = BasePackage();
    package.entries = {Entry("big.bin", "<InstallDir>", ENTRY_RUN_AFTER, std::string(99, 'b')),
                       Entry("small.bin", "<InstallDir>", 0, "s")};
    FakeEngineState().failingAllocs = {100};

    ASSERT_EQ(1, Run(Build(package)));

    EXPECT_EQ((Calls{"ResolveTargetPath small.bin|<InstallDir>"}),
              FakeEngineCalls("ResolveTargetPath"));
    EXPECT_TRUE(FakeEngineCalls("RunAndWait").empty());
    EXPECT_EQ((Calls{"SetProgress 0", "SetProgress 99", "SetProgress 100", "SetProgress 100"}),
              FakeEngineCalls("SetProgress"));
}

// Without the product's folder nothing is written, also where other entries have a place; a
// package with no entry under <InstallDir> runs as before.
TEST_F(Engine, NoInstallFolderIsProductNotFound) {
    const struct {
        const char* name;
        const char* firstFolder;
        int installDirResult;
        const char* missingFolder;
        Calls replaces;
        int exitCode;
        const char* lastProgress;  // nothing written leaves the bar empty
    } rows[] = {
        {"no install folder", "<InstallDir>", 0, "", {}, 1642, "SetProgress 0"},
        {"the folder named is gone",
         "<InstallDir>",
         1,
         "C:\\Apps\\Example",
         {},
         1642,
         "SetProgress 0"},
        {"no entry needs it",
         "<WindowsDir>",
         0,
         "",
         {"Replace C:\\WINDOWS\\a.dll", "Replace C:\\WINDOWS\\b.dll"},
         0,
         "SetProgress 100"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        FakeEngineReset();
        WriterPackage package = BasePackage();
        package.entries = {Entry("a.dll", row.firstFolder, ENTRY_ALWAYS_REPLACE, "a"),
                           Entry("b.dll", "<WindowsDir>", ENTRY_ALWAYS_REPLACE, "b")};
        FakeEngineState().installDirResult = row.installDirResult;
        FakeEngineState().missingFolders = {row.missingFolder};
        RunRecord record;
        InitRunRecord(&record);
        FakeEngineState().package = Build(package);
        ASSERT_EQ(1, RunUpdate(kDialog, &record));
        EXPECT_EQ(row.replaces, FakeEngineCalls("Replace"));
        EXPECT_EQ(row.exitCode, ExitCodeOf(ConcludeRun(&record)));
        EXPECT_EQ(row.lastProgress, FakeEngineCalls("SetProgress").back());
        FreeRunRecord(&record);
    }
}

// Unattended, nobody answers a message box and nobody closes what holds a file: a running
// application or a process holding a target ends the run with 32 before anything is written.
TEST_F(Engine, UnattendedRunStopsForWhatIsRunning) {
    const struct {
        const char* name;
        int unattended;
        const char* runningClass;
        const char* heldTarget;
        int exitCode;
        std::size_t messages, writes;
        const char* detail;
    } rows[] = {
        {"a window, with the dialog", 0, "ExampleMain", "", 32, 1, 0, "window class"},
        {"a window, unattended", 1, "ExampleMain", "", 32, 0, 0, "window class"},
        {"a holder, unattended", 1, "", "C:\\Apps\\Example\\a.dll", 32, 0, 0,
         "held by Other.exe (pid 7)"},
        {"a holder, with the dialog: not asked", 0, "", "C:\\Apps\\Example\\a.dll", 0, 0, 1,
         nullptr},
        {"nothing held, unattended", 1, "", "", 0, 0, 1, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        FakeEngineReset();
        g_unattended = row.unattended;
        WriterPackage package = BasePackage();
        package.runningApps = {{"ExampleMain", "Example is running."}};
        package.entries = {Entry("a.dll", "<InstallDir>", ENTRY_ALWAYS_REPLACE, "a")};
        FakeEngineState().runningClasses = {row.runningClass};
        FakeEngineState().heldTargets = {row.heldTarget};
        FakeEngineState().package = Build(package);
        RunRecord record;
        InitRunRecord(&record);
        RunUpdate(kDialog, &record);
        EXPECT_EQ(row.exitCode, ExitCodeOf(ConcludeRun(&record)));
        EXPECT_EQ(row.messages, FakeEngineCalls("MessageBox").size());
        EXPECT_EQ(row.writes, FakeEngineCalls("Write").size());
        EXPECT_EQ(row.unattended && !row.runningClass[0] ? 1u : 0u,
                  FakeEngineCalls("TargetsHeld").size());
        // The log names what stopped the run: the last item recorded.
        if (row.detail) {
            ASSERT_LE(1, record.itemCount);
            EXPECT_STREQ(row.detail, RecordedItem(&record, record.itemCount - 1)->detail);
        }
        FreeRunRecord(&record);
    }
    g_unattended = 0;
}

// Unattended, only the product's own programs stop the run; any other holder is let be (the
// file is then replaced at the restart where it stays held).
TEST_F(Engine, UnattendedRunStopsOnlyForTheProductsOwnHolders) {
    const struct {
        const char* name;
        FakeEngine::Holder holder;
        int exitCode;
        std::size_t writes;
    } rows[] = {
        {"a program in the install folder",
         {11, "Example Service", "C:\\Apps\\Example\\bin\\svc.exe", "", ""},
         32,
         0},
        {"a listed window's process, elsewhere",
         {12, "Launcher", "D:\\Tools\\launch.exe", "", "ExampleMain"},
         32,
         0},
        {"the indexer",
         {13, "Microsoft Windows Search Indexer", "C:\\Windows\\System32\\SearchIndexer.exe", "",
          ""},
         0,
         1},
        {"a folder named as the install folder's start",
         {14, "Other", "C:\\Apps\\Example2\\other.exe", "", ""},
         0,
         1},
        {"a process whose image cannot be read", {15, "Scanner", "", "", ""}, 0, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        FakeEngineReset();
        g_unattended = 1;
        WriterPackage package = BasePackage();
        package.runningApps = {{"ExampleMain", "Example is running."}};
        package.entries = {Entry("a.dll", "<InstallDir>", ENTRY_ALWAYS_REPLACE, "a")};
        FakeEngine::Holder holder = row.holder;
        holder.target = "C:\\Apps\\Example\\a.dll";
        FakeEngineState().holders = {holder};
        FakeEngineState().package = Build(package);
        RunRecord record;
        InitRunRecord(&record);
        RunUpdate(kDialog, &record);
        EXPECT_EQ(row.exitCode, ExitCodeOf(ConcludeRun(&record)));
        EXPECT_EQ(row.writes, FakeEngineCalls("Write").size());
        // The holder is named on the last line, after the install folder's.
        if (row.exitCode == 32 && record.itemCount > 0)
            EXPECT_EQ("held by " + holder.name + " (pid " + std::to_string(holder.pid) + ")",
                      RecordedItem(&record, record.itemCount - 1)->detail);
        EXPECT_EQ(row.exitCode == 32 ? 2 : record.itemCount, record.itemCount);
        FreeRunRecord(&record);
    }
    g_unattended = 0;
}

// What became of each entry reaches the record, with its target.
TEST_F(Engine, RecordsEachEntrysOutcome) {
    WriterPackage package = BasePackage();
    package.entries = {Entry("new.dll", "<InstallDir>", 0, "n"),
                       Entry("old.dll", "<InstallDir>", 0, "o"),
                       Entry("held.dll", "<InstallDir>", ENTRY_ALWAYS_REPLACE, "h"),
                       Entry("x.dll", "Elsewhere", 0, "x"),
                       Entry("bad.dll", "<InstallDir>", 0, "b"),
                       Entry("app.exe", "<InstallDir>", 0, "a", "<Desktop>\\App;"),
                       Entry("wait.dll", "<InstallDir>", ENTRY_ALWAYS_REPLACE, "w")};
    std::vector<unsigned char> bytes = Build(package);
    EntryAt(bytes, 4)->size = 5;  // the stream no longer gives the entry's size
    const std::string dir = "C:\\Apps\\Example\\";
    FakeEngineState().missingTargets = {dir + "new.dll", dir + "app.exe"};
    FakeEngineState().failingReplaces = {dir + "held.dll", dir + "app.exe"};
    FakeEngineState().newerOrSame[dir + "old.dll"] = 0;
    FakeEngineState().waitingTargets = {dir + "wait.dll"};
    FakeEngineState().package = bytes;
    RunRecord record;
    InitRunRecord(&record);
    ASSERT_EQ(1, RunUpdate(kDialog, &record));

    const std::vector<std::pair<std::string, ItemOutcome>> expected = {
        {"C:\\Apps\\Example", OUTCOME_FOUND},    {dir + "new.dll", OUTCOME_ADDED},
        {dir + "old.dll", OUTCOME_KEPT_VERSION}, {dir + "held.dll", OUTCOME_IN_USE},
        {"x.dll", OUTCOME_SKIPPED_PLACEHOLDER},  {dir + "bad.dll", OUTCOME_DAMAGED},
        {dir + "app.exe", OUTCOME_IN_USE},       {dir + "app.exe", OUTCOME_NO_TARGET},
        {dir + "wait.dll", OUTCOME_AT_RESTART}};
    ASSERT_EQ(static_cast<int>(expected.size()), record.itemCount);
    for (int i = 0; i < record.itemCount; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(expected[i].first, RecordedItem(&record, i)->path);
        EXPECT_EQ(expected[i].second, RecordedItem(&record, i)->outcome);
    }
    EXPECT_TRUE(FakeEngineCalls("Shortcuts").empty()) << "no shortcut to a missing file";
    EXPECT_TRUE(FakeEngineCalls("Replace " + dir + "wait.dll").empty()) << "staged once only";
    EXPECT_EQ(1603, ExitCodeOf(ConcludeRun(&record)));
    FreeRunRecord(&record);
}

TEST_F(Engine, OneEntryBufferAtATime) {
    WriterPackage package = BasePackage();
    for (int i = 0; i < 4; ++i)
        package.entries.push_back(
            Entry("f" + std::to_string(i), "<InstallDir>", 0, std::string(10 * i, 'x')));
    ASSERT_EQ(1, Run(Build(package)));

    Calls memory;
    for (const std::string& call : AllCalls()) {
        if (call.rfind("Alloc", 0) == 0 || call == "Free") memory.push_back(call);
    }
    EXPECT_EQ(
        (Calls{"Alloc 1", "Free", "Alloc 11", "Free", "Alloc 21", "Free", "Alloc 31", "Free"}),
        memory);
}

TEST_F(Engine, NoEntriesStillAsksForBothFolders) {
    for (std::int32_t count : {0, -1, INT32_MIN}) {
        SCOPED_TRACE(count);
        FakeEngineReset();
        WriterPackage package = BasePackage();
        package.moves = {{"<Desktop>\\A", "<Desktop>\\B"}};
        std::vector<unsigned char> bytes = Build(package);
        reinterpret_cast<PackageHeader*>(bytes.data())->entryCount = count;

        ASSERT_EQ(1, Run(bytes));

        EXPECT_EQ(Concat({{"ResolveInstallDir", "GetTempPath", "FinishReplaces", "FreeResource"},
                          kCompletion}),
                  Calls(AllCalls().begin() + 11, AllCalls().end()))
            << "no entry, and no move table, since it is found behind the last entry";
    }
}

TEST_F(Engine, DamagedTablesAreReadOnlyAsFarAsThePackageGoes) {
    WriterPackage package = BasePackage();
    package.entries = {Entry("a.dll", "<InstallDir>", ENTRY_ALWAYS_REPLACE, "a"),
                       Entry("b.dll", "<InstallDir>", ENTRY_ALWAYS_REPLACE, "b")};
    package.moves = {{"<Desktop>\\A", "<Desktop>\\B"}, {"<Desktop>\\C", "<Desktop>\\D"}};
    std::vector<unsigned char> good = Build(package);
    const std::uint32_t moveTable =
        EntryAt(good, 1)->streamOffset + EntryAt(good, 1)->compressedSize;

    struct Row {
        const char* name;
        void (*damage)(std::vector<unsigned char>&, std::uint32_t moveTable);
        Calls replaces;
        Calls moves;
    };
    const Calls both = {"Replace C:\\Apps\\Example\\a.dll", "Replace C:\\Apps\\Example\\b.dll"};
    const Calls twoMoves = {"Move <Desktop>\\A > <Desktop>\\B", "Move <Desktop>\\C > <Desktop>\\D"};
    const Row rows[] = {
        // A package whose table is cut short cannot be applied: nothing is written.
        {"entryCount past the table",
         [](std::vector<unsigned char>& bytes, std::uint32_t) {
             reinterpret_cast<PackageHeader*>(bytes.data())->entryCount = INT32_MAX;
         },
         {},
         {}},
        {"entry table cut short",
         [](std::vector<unsigned char>& bytes, std::uint32_t) {
             bytes.resize(HEADER_SIZE + ENTRY_SIZE + 100);
         },
         {},
         {}},
        {"moveCount past the records",
         [](std::vector<unsigned char>& bytes, std::uint32_t table) {
             std::int32_t huge = INT32_MAX;
             std::memcpy(bytes.data() + table, &huge, 4);
         },
         both, twoMoves},
        {"negative moveCount",
         [](std::vector<unsigned char>& bytes, std::uint32_t table) {
             std::int32_t negative = -2;
             std::memcpy(bytes.data() + table, &negative, 4);
         },
         both,
         {}},
        {"move table outside the package",
         [](std::vector<unsigned char>& bytes, std::uint32_t) {
             EntryAt(bytes, 1)->compressedSize += 0x7FFFFFFF;
         },
         {both[0]},
         {}},
        {"unterminated `to` neither moves nor deletes",
         [](std::vector<unsigned char>& bytes, std::uint32_t) {
             std::memset(bytes.data() + bytes.size() - 260, 'x', 260);
         },
         both,
         {twoMoves[0]}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeEngineReset();
        std::vector<unsigned char> bytes = good;
        row.damage(bytes, moveTable);
        ASSERT_EQ(1, Run(bytes));
        EXPECT_EQ(row.replaces, FakeEngineCalls("Replace"));
        EXPECT_EQ(row.moves, FakeEngineCalls("Move"));
    }
}

// Positions sent after each entry, for entries of the given sizes; the streams are left
// damaged on purpose, since an entry counts by its size whether or not it was written.
Calls PositionsFor(const std::vector<std::uint32_t>& sizes) {
    WriterPackage package = BasePackage();
    for (std::size_t i = 0; i < sizes.size(); ++i)
        package.entries.push_back(Entry("f" + std::to_string(i), "C:\\nowhere", 0, ""));
    std::vector<unsigned char> bytes = Build(package);
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        EntryAt(bytes, static_cast<int>(i))->size = sizes[i];
        // Nothing to allocate: the run must not depend on the entry being inflated.
        FakeEngineState().failingAllocs.insert(static_cast<std::size_t>(sizes[i]) + 1);
    }
    FakeEngineState().package = bytes;
    RunUpdate(kDialog);
    Calls positions = FakeEngineCalls("SetProgress");
    return Calls(positions.begin() + 1, positions.end());
}

// Removals and values follow only a run whose every entry's file is in place; folders come
// first whatever follows. Values go to the view the install folder was found in.
TEST_F(Engine, StepsBesideThePackageNeedEveryEntryDone) {
    struct Row {
        const char* name;
        std::function<void(FakeEngine*)> arrange;
        Calls extras;
    };
    const std::string created = "Mkdir C:\\Apps\\Example\\plugins";
    const std::string removed = "Delete C:\\Apps\\Example\\kbold.dll removed";
    const std::string set =
        "SetValue 0:Software\\Uninstall\\Example@256 DisplayVersion=3.1 written";
    const Row rows[] = {
        {"every entry replaced", [](FakeEngine*) {}, {created, removed, set}},
        {"one kept by the version rule",
         [](FakeEngine* e) { e->newerOrSame["C:\\Apps\\Example\\b.dll"] = 0; },
         {created, removed, set}},
        {"one refused",
         [](FakeEngine* e) { e->failingReplaces = {"C:\\Apps\\Example\\b.dll"}; },
         {created}},
        {"one failed after it was handed on",
         [](FakeEngine* e) { e->failingLater = {"C:\\Apps\\Example\\a.exe"}; },
         {created}},
        // The entry is applied from memory all the same.
        {"one with no temporary file",
         [](FakeEngine* e) { e->tempFileFails = 1; },
         {created, removed, set}},
        {"no install folder", [](FakeEngine* e) { e->installDirResult = 0; }, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeEngineReset();
        FakeExtrasReset();
        FakeEngineState().installDirView = 256;
        row.arrange(&FakeEngineState());
        WriterExtras extras;
        extras.folders = {"<InstallDir>\\plugins"};
        extras.removals = {{"<InstallDir>\\kbold.dll", 0}};
        extras.values = {{"HKEY_LOCAL_MACHINE\\Software\\Uninstall\\Example", "DisplayVersion",
                          EXTRAS_REG_SZ, "3.1", 0}};
        FakeExtras& fake = FakeExtrasState();
        std::string error;
        ASSERT_EQ(1, BuildExtras(extras, &fake.resource, &error));
        fake.hasResource = true;
        fake.paths = {{"C:\\Apps\\Example", PATH_FOLDER},
                      {"C:\\Apps\\Example\\kbold.dll", PATH_FILE}};
        fake.keys = {"0:Software\\Uninstall\\Example@256"};
        WriterPackage package = BasePackage();
        package.entries = {Entry("a.exe", "<InstallDir>", ENTRY_ALWAYS_REPLACE, "a"),
                           Entry("b.dll", "<InstallDir>", 0, "b")};
        ASSERT_EQ(1, Run(Build(package)));
        EXPECT_EQ(row.extras, fake.calls);
    }
    FakeExtrasReset();
}

TEST_F(Engine, ProgressPositions) {
    struct Row {
        std::vector<std::uint32_t> sizes;
        std::vector<int> positions;  // after each entry that moves the bar, then the completion
    };
    const Row rows[] = {
        {{1, 2}, {33, 100, 100}},
        {{16777219}, {99, 100}},  // the float total rounds up to 16777220
        {{16777217}, {100, 100}},
        {{0, 0, 0}, {100}},
        {{0, 5, 0}, {100, 100}},
        {{3, 3, 3}, {33, 66, 100, 100}},
        {{29, 71}, {28, 100, 100}},  // 29 / 100.0 * 100 is 28.999999999999996 in double
        {{0xFFFFFFFFu}, {99, 100}},
        // Sizes adding up past 4 GiB wrap the total; the bar still never goes back or past 100.
        {{0xFFFFFFFFu, 2}, {100, 100}},
        {{0x80000000u, 0x80000000u, 10}, {100, 100}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.sizes));
        FakeEngineReset();
        Calls expected;
        for (int position : row.positions)
            expected.push_back("SetProgress " + std::to_string(position));
        EXPECT_EQ(expected, PositionsFor(row.sizes));
    }
}

TEST(Progress, DivisorIsTheTotalRoundedOnceToFloat) {
    EXPECT_EQ(16777220.0f, ProgressDivisor(16777219));
    EXPECT_EQ(16777216.0f, ProgressDivisor(16777217));
    EXPECT_EQ(0, ProgressPosition(123, ProgressDivisor(0)));
    EXPECT_EQ(33, ProgressPosition(1, ProgressDivisor(3)));
    EXPECT_EQ(100, ProgressPosition(16777217, ProgressDivisor(16777217)));
}

// A file held for good costs each entry the budget once, no more; a file let go at once is
// tried again within milliseconds.
TEST(Retry, WaitsDoubleUpToACapAndStopAtTheBudget) {
    RetryBudget budget;
    StartRetryBudget(&budget);
    std::vector<std::uint32_t> waits;
    std::uint32_t total = 0;
    for (std::uint32_t wait; (wait = NextRetryDelay(&budget)) != 0 && waits.size() < 100;) {
        waits.push_back(wait);
        total += wait;
    }
    ASSERT_GE(waits.size(), 6u);
    EXPECT_EQ((std::vector<std::uint32_t>{15, 30, 60, 120, 240, 400}),
              std::vector<std::uint32_t>(waits.begin(), waits.begin() + 6));
    EXPECT_EQ(RETRY_BUDGET_MS, total);
    EXPECT_EQ(0u, NextRetryDelay(&budget)) << "spent stays spent";
    StartRetryBudget(&budget);
    EXPECT_EQ(15u, NextRetryDelay(&budget)) << "the next entry starts afresh";
}

// Permissions that cannot be read must not become the folder's inherited ones; only a file
// system that keeps none has nothing to lose.
TEST(Permissions, UnreadableOnesKeepTheInstalledFile) {
    EXPECT_EQ(PERMISSIONS_COPIED, DecidePermissions(1, 0, 1));
    EXPECT_EQ(PERMISSIONS_INHERITED, DecidePermissions(1, 0, 0));
    EXPECT_EQ(PERMISSIONS_INHERITED, DecidePermissions(0, FILE_ERROR_NOT_SUPPORTED, 0));
    EXPECT_EQ(PERMISSIONS_INHERITED, DecidePermissions(0, FILE_ERROR_INVALID_FUNCTION, 1));
    EXPECT_EQ(PERMISSIONS_UNREADABLE, DecidePermissions(0, 5, 0));  // access denied
    EXPECT_EQ(PERMISSIONS_UNREADABLE, DecidePermissions(0, 0, 1));  // read, not understood
}

}  // namespace

// A package that cannot be applied writes nothing and ends 1603, never 0, and its record (the
// log) says why.
TEST_F(Engine, APackageThatCannotBeAppliedIsNotDone) {
    WriterPackage package = BasePackage();
    package.entries = {Entry("a.dll", "<InstallDir>", ENTRY_ALWAYS_REPLACE, "a"),
                       Entry("b.dll", "<InstallDir>", ENTRY_ALWAYS_REPLACE, "b")};
    const std::vector<unsigned char> good = Build(package);
    struct Row {
        const char* name;
        std::function<void(std::vector<unsigned char>*)> arrange;
        const char* why;
    };
    const Row rows[] = {
        {"no package",
         [](std::vector<unsigned char>*) { FakeEngineState().packageState = FAKE_PACKAGE_MISSING; },
         "carries no package"},
        {"entry table cut short",
         [](std::vector<unsigned char>* bytes) { bytes->resize(HEADER_SIZE + ENTRY_SIZE + 8); },
         "entry table cut short: 1 of 2"},
        {"steps beside it with a count past their records",
         [](std::vector<unsigned char>*) {
             WriterExtras extras;
             extras.values = {{"HKEY_LOCAL_MACHINE\\Software\\X", "V", EXTRAS_REG_SZ, "1", 0}};
             FakeExtras& fake = FakeExtrasState();
             std::string error;
             ASSERT_EQ(1, BuildExtras(extras, &fake.resource, &error));
             reinterpret_cast<ExtrasHeader*>(fake.resource.data())->registryCount = 2;
             fake.hasResource = true;
         },
         "steps beside the package (RCDATA 2) are damaged"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeEngineReset();
        FakeExtrasReset();
        std::vector<unsigned char> bytes = good;
        row.arrange(&bytes);
        FakeEngineState().package = bytes;
        RunRecord record;
        InitRunRecord(&record);
        RunUpdate(kDialog, &record);
        EXPECT_TRUE(FakeEngineCalls("Replace").empty());
        EXPECT_EQ(1603, ExitCodeOf(ConcludeRun(&record)));
        ASSERT_EQ(1, record.itemCount);
        const RunItem* item = RecordedItem(&record, 0);
        EXPECT_EQ(OUTCOME_CANNOT_APPLY, item->outcome);
        EXPECT_NE(nullptr, std::strstr(item->detail, row.why)) << item->detail;
        EXPECT_EQ(SUMMARY_UNREADABLE, SummarizeRun(&record).kind);
        FreeRunRecord(&record);
    }
    FakeExtrasReset();
}

// A folder the steps were to make and could not leaves its files not done (no part left
// uninstalled), and no value is set after a step that failed, a removal's included.
TEST_F(Engine, NoValueAfterAFailedStep) {
    struct Row {
        const char* name;
        std::function<void()> arrange;
        ItemOutcome plugin;
        Calls extras;
    };
    const std::string dir = "C:\\Apps\\Example";
    const Row rows[] = {
        {"its folder not made",
         [&] {
             FakeExtrasState().failingFolders = {dir + "\\plugins"};
             FakeEngineState().missingFolders = {dir + "\\plugins"};
         },
         OUTCOME_NOT_WRITTEN,
         {"Mkdir " + dir + "\\plugins FAIL"}},
        {"a removal refused",
         [&] { FakeExtrasState().refusedFiles = {dir + "\\old.dll"}; },
         OUTCOME_ADDED,
         {"Mkdir " + dir + "\\plugins", "Delete " + dir + "\\old.dll refused"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeEngineReset();
        FakeExtrasReset();
        FakeExtras& fake = FakeExtrasState();
        fake.lastError = 5;
        WriterExtras extras;
        extras.folders = {"<InstallDir>\\plugins"};
        extras.removals = {{"<InstallDir>\\old.dll", 0}};
        extras.values = {{"HKEY_LOCAL_MACHINE\\Software\\Uninstall\\Example", "DisplayVersion",
                          EXTRAS_REG_SZ, "3.1", 0}};
        std::string error;
        ASSERT_EQ(1, BuildExtras(extras, &fake.resource, &error));
        fake.hasResource = true;
        fake.paths = {{dir, PATH_FOLDER}, {dir + "\\old.dll", PATH_FILE}};
        fake.keys = {"0:Software\\Uninstall\\Example@0"};
        FakeEngineState().missingTargets = {dir + "\\plugins\\p.dll"};
        row.arrange();
        WriterPackage package = BasePackage();
        package.entries = {Entry("p.dll", "<InstallDir>\\plugins", ENTRY_ALWAYS_REPLACE, "p")};
        FakeEngineState().package = Build(package);
        RunRecord record;
        InitRunRecord(&record);
        RunUpdate(kDialog, &record);
        EXPECT_EQ(row.extras, fake.calls);
        for (int i = 0; i < record.itemCount; ++i) {
            const RunItem* item = RecordedItem(&record, i);
            if (item->kind == ITEM_FILE) {
                EXPECT_EQ(row.plugin, item->outcome);
            }
            if (item->kind == ITEM_VALUE) {
                EXPECT_NE(OUTCOME_SET, item->outcome);
            }
            if (item->outcome == OUTCOME_FAILED) {
                EXPECT_EQ(5u, item->error);
            }
        }
        EXPECT_EQ(1603, ExitCodeOf(ConcludeRun(&record)));
        FreeRunRecord(&record);
    }
    FakeExtrasReset();
}
