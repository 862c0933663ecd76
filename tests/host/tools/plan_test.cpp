// SPDX-License-Identifier: MIT
// plan against a real folder: programs whose version resources the rule reads from their bytes,
// a folder the product lacks, a shortcut and a move recorded rather than made.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>

#include "commands/tidepack.h"
#include "extras/extras_writer.h"
#include "package/package_writer.h"
#include "plan/plan.h"
#include "test_support.h"

namespace {

WriterEntry Entry(const std::string& fileName, const std::string& folder, const std::string& data,
                  const std::string& shortcuts = "") {
    WriterEntry entry;
    entry.fileName = fileName;
    entry.folder = folder;
    entry.shortcutText = shortcuts;
    entry.data.assign(data.begin(), data.end());
    return entry;
}

TEST(Plan, EachEntryAsTheProgramWouldTreatIt) {
    TempDir dir;
    WriteFile(dir / "install/app.exe", VersionedProgram("2.0"));
    WriteFile(dir / "install/lib.dll", VersionedProgram("3.0.1"));
    WriteFile(dir / "install/plain.txt", "old");
    WriteFile(dir / "desktop/Old.lnk", "a shortcut");
    WriteFile(dir / "install/locked.txt", "old");
    std::filesystem::permissions(
        dir / "install/locked.txt",
        std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
    std::filesystem::create_directories(dir / "install/data.bin");

    WriterPackage package;
    package.title = "App";
    package.versionText = "2.5";
    package.defaultFolder = "C:\\App";
    package.entries = {
        Entry("app.exe", "<InstallDir>", VersionedProgram("2.5"), "<Desktop>\\App;--fresh"),
        Entry("lib.dll", "<InstallDir>", VersionedProgram("2.1")),
        Entry("plain.txt", "<InstallDir>", "new"),
        Entry("guide.txt", "<InstallDir>\\help", "help"),
        Entry("note.txt", "<InstallDir>", "note"),
        Entry("x.txt", "<Nowhere>", "x"),
        Entry(std::string(120, 'n'), "<InstallDir>\\" + std::string(110, 'f'), "long"),
        Entry("locked.txt", "<InstallDir>", "new"),
        Entry("data.bin", "<InstallDir>", "new")};
    for (std::size_t k : {2, 7, 8}) package.entries[k].flags = ENTRY_ALWAYS_REPLACE;
    package.moves = {{"<Desktop>\\Old", "<ProgramMenu>\\App\\Old"},
                     {"<Desktop>\\Gone", "<ProgramMenu>\\App\\Gone"}};
    std::vector<unsigned char> bytes;
    std::string error;
    ASSERT_EQ(1, BuildPackage(package, &bytes, &error)) << error;
    WriteFile(dir / "p.pkg", std::string(bytes.begin(), bytes.end()));

    PlanFolders folders;
    folders.installDir = dir / "install";
    folders.desktop = dir / "desktop";
    PackagePlan plan;
    ASSERT_EQ(1, PlanPackage(PackageImage{bytes.data(), static_cast<std::uint32_t>(bytes.size())},
                             folders, &plan, &error))
        << error;

    struct Row {
        const char* action;
        const char* reason;
        const char* packaged;
        const char* installed;
    } const want[] = {
        {"replaced", "versionRule", "2.5", "2.0"},
        {"kept", "versionRule", "2.1", "3.0.1"},
        {"replaced", "alwaysReplace", "", ""},
        {"skipped", "folderMissing", "", ""},
        {"added", "newFile", "", ""},
        {"skipped", "noPlaceholder", "", ""},
        {"skipped", "targetTooLong", "", ""},
        {"kept", "readOnly", "", ""},
        {"kept", "folderAtTarget", "", ""},
    };
    ASSERT_EQ(std::size(want), plan.entries.size());
    for (std::size_t k = 0; k < plan.entries.size(); ++k) {
        const PlannedEntry& got = plan.entries[k];
        SCOPED_TRACE(got.fileName.substr(0, 20));
        EXPECT_STREQ(want[k].action, PlanActionName(got.action));
        EXPECT_STREQ(want[k].reason, PlanReasonName(got.reason));
        EXPECT_EQ(want[k].packaged, got.packagedVersion);
        EXPECT_EQ(want[k].installed, got.installedVersion);
    }
    EXPECT_EQ(folders.installDir + "\\help", plan.entries[3].missingFolder);
    ASSERT_EQ(1u, plan.entries[0].shortcuts.size());
    EXPECT_EQ(dir / "desktop\\App.lnk", plan.entries[0].shortcuts[0].link);
    EXPECT_EQ("--fresh", plan.entries[0].shortcuts[0].arguments);
    EXPECT_EQ(folders.installDir, plan.entries[0].shortcuts[0].workingDir);
    ASSERT_EQ(2u, plan.moves.size());
    EXPECT_STREQ("move", PlanMoveActionName(plan.moves[0].action));
    EXPECT_EQ("<ProgramMenu>\\App\\Old.lnk", plan.moves[0].toPath);
    // Not there to copy, so the program's copy fails and nothing is deleted.
    EXPECT_STREQ("none", PlanMoveActionName(plan.moves[1].action));

    PlanOptions options;
    options.path = dir / "p.pkg";
    options.folders = folders;
    EXPECT_EQ(0, Capture([&](std::FILE* out, std::FILE* err) {
                     return PlanPatch(options, out, err);
                 }).code);
    options.strict = true;
    options.json = true;
    Output strict =
        Capture([&](std::FILE* out, std::FILE* err) { return PlanPatch(options, out, err); });
    EXPECT_EQ(EXIT_FAULT, strict.code);
    EXPECT_NE(std::string::npos,
              strict.out.find("\"summary\": {\"replaced\": 2, \"kept\": 3, \"added\": 1, "
                              "\"skipped\": 3}"))
        << strict.out;
}

}  // namespace

namespace {

// The steps beside a package, planned by the program's own steps: files beneath a folder to be
// created are added; a removal waits for every entry to be done.
TEST(Plan, StepsBesideThePackageAsTheProgramTakesThem) {
    TempDir dir;
    WriteFile(dir / "install/kbold.dll", "old");
    WriterPackage package;
    package.title = "App";
    package.versionText = "3.1";
    package.defaultFolder = "C:\\App";
    package.entries = {Entry("p.dll", "<InstallDir>\\plugins\\new", "p")};
    std::vector<unsigned char> bytes, steps;
    std::string error;
    ASSERT_EQ(1, BuildPackage(package, &bytes, &error)) << error;
    WriterExtras extras;
    extras.removals = {{"<InstallDir>\\kbold.dll", 0}, {"<InstallDir>\\gone.dll", 0}};
    extras.values = {{"HKEY_LOCAL_MACHINE\\Software\\X", "DisplayVersion", 1, "3.1", 0}};
    const struct {
        const char* name;
        std::vector<std::string> folders;
        const char* entry;
        std::vector<std::string> outcomes;
    } rows[] = {
        {"folder created first",
         {"<InstallDir>\\plugins\\new"},
         "added",
         {"created", "removed", "not there", "set"}},
        {"no folder to create",
         {},
         "skipped",
         {"skipped: not every entry was done", "skipped: not every entry was done",
          "skipped: not every entry was done"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        extras.folders = row.folders;
        ASSERT_EQ(1, BuildExtras(extras, &steps, &error)) << error;
        PlanFolders folders;
        folders.installDir = dir / "install";
        PackagePlan plan;
        ASSERT_EQ(1,
                  PlanPackage(PackageImage{bytes.data(), static_cast<std::uint32_t>(bytes.size())},
                              folders, &plan, &error,
                              ExtrasImage{steps.data(), static_cast<std::uint32_t>(steps.size())}))
            << error;
        ASSERT_EQ(1u, plan.entries.size());
        EXPECT_STREQ(row.entry, PlanActionName(plan.entries[0].action));
        std::vector<std::string> outcomes;
        for (const PlannedExtra& extra : plan.extras) outcomes.push_back(extra.outcome);
        EXPECT_EQ(row.outcomes, outcomes);
        // Nothing was made or removed on this machine.
        EXPECT_FALSE(std::filesystem::exists(dir / "install/plugins"));
        EXPECT_TRUE(std::filesystem::exists(dir / "install/kbold.dll"));
    }
}

// diff reads both releases' versions by the program's rule: a copy the rule would keep out is
// put in place with both versions named; releases given the wrong way round are named too.
TEST(Diff, VersionsTheRuleWouldMisrankAreReplacedAndSaid) {
    const struct {
        const char* name;
        std::vector<std::array<const char*, 3>> files;  // name, old version, new version
        const char* warning;                            // null: none
        int forced;                                     // files given alwaysReplace = true
    } rows[] = {
        {"2.10.1 after 2.9.14",
         {{"hkpdf.dll", "2.9.14", "2.10.1"}},
         "the version rule ranks 2.10.1 below 2.9.14",
         1},
        {"newer by every reading", {{"a.dll", "2.0.0.0", "2.1.0.0"}}, nullptr, 0},
        {"releases the wrong way round",
         {{"a.dll", "2.1", "2.0"}, {"b.dll", "3.1", "3.0"}, {"c.dll", "1.0", "1.1"}},
         "2 of 3 versioned programs are older in",
         2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        for (const auto& [name, oldVersion, newVersion] : row.files) {
            WriteFile(dir / (std::string("old/") + name), VersionedProgram(oldVersion));
            WriteFile(dir / (std::string("new/") + name), VersionedProgram(newVersion));
        }
        std::filesystem::create_directories(dir / "m");
        Output diff = Capture([&](std::FILE* out, std::FILE* err) {
            return DiffReleases(dir / "old", dir / "new", dir / "m/patch.toml", false, out, err);
        });
        ASSERT_EQ(0, diff.code) << diff.err;
        EXPECT_EQ(row.warning != nullptr, diff.err.find("warning") != std::string::npos)
            << diff.err;
        if (row.warning) {
            EXPECT_NE(std::string::npos, diff.err.find(row.warning)) << diff.err;
        }
        std::string manifest = ReadFile(dir / "m/patch.toml");
        int forced = 0;
        for (std::size_t at = 0;
             (at = manifest.find("\nalwaysReplace = true\n", at)) != std::string::npos; ++at)
            ++forced;
        EXPECT_EQ(row.forced, forced) << manifest;
    }
}

}  // namespace
