// SPDX-License-Identifier: MIT
// Runs of a package of 50 files, several of them large, over an installed older version, cut
// off at many points: the process terminated outright, or ended by Cancel or the close box
// while the worker is writing. Afterwards every target must be byte for byte either its old or
// its new version, none missing, and a new run must complete the update.
//
// TIDEWELL_CUTOFF_POINTS sets the number of cut-off points (16 by default; more for a long run).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "harden_support.h"
#include "package/package.h"
#include "package/package_writer.h"

namespace {

const char kRoot[] = "C:\\tidewell-harden\\cutoff";
const char kRegistryKey[] = "Software\\Tidewell Hardening\\Cutoff";

std::string ProductFolder() { return std::string(kRoot) + "\\Product"; }
std::string TempFolderOfRuns() { return std::string(kRoot) + "\\temp"; }
std::string ProgramPath() { return std::string(kRoot) + "\\bin\\" + PROGRAM_NAME; }

struct ProductFile {
    std::string name;
    Bytes oldBytes;  // empty: not installed before (a file the update adds)
    Bytes newBytes;
    std::uint64_t oldHash;
    std::uint64_t newHash;
};

constexpr int kFileCount = 50;

// Files 0 .. 49; six of them large, spread over the package, two of them new.
std::vector<ProductFile> MakeFiles() {
    const int large[] = {4, 12, 21, 29, 38, 46};
    const std::size_t largeSizes[] = {6u << 20, 4u << 20, 8u << 20, 5u << 20, 7u << 20, 3u << 20};
    std::vector<ProductFile> files;
    for (int i = 0; i < kFileCount; ++i) {
        ProductFile file;
        char name[32];
        std::snprintf(name, sizeof name, "file%02d.%s", i, i % 3 ? "dat" : "txt");
        file.name = name;
        std::size_t size = 1000 + 997u * ((i * 37) % 41);
        int big = -1;
        for (int k = 0; k < 6; ++k)
            if (large[k] == i) big = k;
        if (big >= 0) {
            file.oldBytes = NoiseBytes(largeSizes[big] - 4096 * big, 100 + i);
            file.newBytes = NoiseBytes(largeSizes[big], 200 + i);
        } else if (i % 3) {
            file.oldBytes = NoiseBytes(size, 300 + i);
            file.newBytes = NoiseBytes(size + 311, 400 + i);
        } else {
            file.oldBytes = TextBytes(size, "old " + file.name);
            file.newBytes = TextBytes(size + 97, "new " + file.name);
        }
        if (i == 17 || i == 33) file.oldBytes.clear();
        file.oldHash = HashOf(file.oldBytes);
        file.newHash = HashOf(file.newBytes);
        files.push_back(file);
    }
    return files;
}

const std::vector<ProductFile>& Files() {
    static const std::vector<ProductFile> files = MakeFiles();
    return files;
}

Bytes MakePackage() {
    WriterPackage package;
    package.title = "Cut-off Product";
    package.versionText = "2.0";
    package.registryKey = std::string("HKEY_CURRENT_USER\\") + kRegistryKey;
    package.valueName = "InstallDir";
    package.defaultFolder = std::string(kRoot) + "\\NotInstalled";
    for (int i = 0; i < kFileCount; ++i) {
        WriterEntry entry;
        entry.fileName = Files()[i].name;
        entry.folder = "<InstallDir>";
        // Every fifth goes by the version rule; neither copy has a version, so it replaces.
        entry.flags = i % 5 == 2 ? 0 : ENTRY_ALWAYS_REPLACE;
        entry.data = Files()[i].newBytes;
        package.entries.push_back(entry);
    }
    package.level = 1;
    Bytes bytes;
    std::string error;
    EXPECT_EQ(1, BuildPackage(package, &bytes, &error)) << error;
    return bytes;
}

// The old version, installed afresh.
void Install() {
    RemoveTree(ProductFolder());
    RemoveTree(TempFolderOfRuns());
    MakeFolderChain(ProductFolder());
    MakeFolderChain(TempFolderOfRuns());
    for (const ProductFile& file : Files()) {
        if (file.oldBytes.empty()) continue;
        ASSERT_TRUE(WriteBytes(ProductFolder() + "\\" + file.name, file.oldBytes));
    }
    ASSERT_TRUE(SetInstallDir(kRegistryKey, ProductFolder()));
}

struct Census {
    int oldFiles = 0;
    int newFiles = 0;
    int damaged = 0;  // neither version, or missing where an old one was
    std::vector<std::string> damagedNames;
};

Census TakeCensus() {
    Census census;
    for (const ProductFile& file : Files()) {
        std::string path = ProductFolder() + "\\" + file.name;
        bool exists = Exists(path);
        std::uint64_t hash = exists ? HashOf(ReadBytes(path)) : 0;
        if (exists && hash == file.newHash) {
            ++census.newFiles;
        } else if ((!exists && file.oldBytes.empty()) ||
                   (exists && !file.oldBytes.empty() && hash == file.oldHash)) {
            ++census.oldFiles;
        } else {
            ++census.damaged;
            census.damagedNames.push_back(file.name + (exists ? " (damaged)" : " (missing)"));
        }
    }
    return census;
}

int CutoffPoints() {
    const char* text = std::getenv("TIDEWELL_CUTOFF_POINTS");
    int points = text ? std::atoi(text) : 0;
    return points > 0 ? points : 16;
}

enum Ending { END_TERMINATE, END_CANCEL, END_CLOSE_BOX };
const char* const kEndingNames[] = {"terminated", "Cancel", "close box"};

class Cutoff : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        RemoveTree(kRoot);
        MakeFolderChain(std::string(kRoot) + "\\bin");
        UnmanagedWindows();
    }
    static void TearDownTestSuite() {
        RemoveTree(kRoot);
        DeleteKey(kRegistryKey);
        ForgetUnmanagedWindows();
    }
    void SetUp() override {
        if (DisplayName().empty())
            GTEST_SKIP() << "no X display for the dialog; scripts/test starts Xvfb";
    }
};

// Applies the package through the dialog to its end; the milliseconds from Update to done, or
// 0 when it did not get there.
DWORD RunToDone() {
    Program program;
    if (!StartProgram(ProgramPath(), TempFolderOfRuns(), &program)) return 0;
    DWORD start = GetTickCount();
    Press(program.dialog, IDC_UPDATE_BUTTON);
    int done = WaitForDone(program, WAIT_LIMIT_MS);
    DWORD took = GetTickCount() - start;
    Press(program.dialog, IDC_UPDATE_BUTTON);
    DWORD exitCode = 1;
    int ended = WaitForExit(program, WAIT_LIMIT_MS, &exitCode);
    Release(&program);
    if (!done || !ended)
        std::printf("waited %lu ms for the run to %s\n", GetTickCount() - start,
                    done ? "end after Finish" : "reach done");
    return done && ended && exitCode == 0 ? (took ? took : 1) : 0;
}

TEST_F(Cutoff, EveryFileStaysWholeWhereverTheRunIsCutOff) {
    ASSERT_TRUE(MakeProgram(WindowsPath(TIDEWELL_PROGRAM), ProgramPath(), MakePackage()));

    // A whole run first: it must update everything.
    Install();
    DWORD full = RunToDone();
    ASSERT_NE(0u, full) << "the whole run did not complete";
    Census whole = TakeCensus();
    ASSERT_EQ(kFileCount, whole.newFiles) << "the whole run left files behind";
    std::printf("a whole run takes %lu ms from Update to done\n", full);

    const int points = CutoffPoints();
    int wholePoints = 0, midRun = 0, filesDamaged = 0, staged = 0;
    for (int k = 0; k < points; ++k) {
        Ending ending = static_cast<Ending>(k % 3);
        Install();
        if (HasFatalFailure()) return;
        Program program;
        ASSERT_TRUE(StartProgram(ProgramPath(), TempFolderOfRuns(), &program)) << "no dialog";
        Press(program.dialog, IDC_UPDATE_BUTTON);
        // Every point follows the bar, so it lands in the run whatever the machine's speed or
        // load: odd ones a few ms after the bar reached its mark (the ms only vary the spot;
        // nothing is waited for), even ones once the run is inside a large file after it (a
        // staged copy of one of them being written). The marks stop at 85: the last large files
        // fill the bar's end, and a mark there would come with the run already over.
        DWORD start = GetTickCount();
        WaitForBar(program, (85 * k + 40) / points, WAIT_LIMIT_MS);
        if (k % 2 == 0)
            WaitForStagedCopy(program, ProductFolder(), 1u << 20, WAIT_LIMIT_MS);
        else
            Sleep((k * 7) % 40);
        DWORD delay = GetTickCount() - start;
        DialogView view = ReadDialog(program.dialog);
        switch (ending) {
            case END_TERMINATE:
                Terminate(program);
                break;
            case END_CANCEL:
                Press(program.dialog, IDC_CANCEL_BUTTON);
                break;
            case END_CLOSE_BOX:
                CloseBox(program.dialog);
                break;
        }
        DWORD exitCode = 0;
        EXPECT_TRUE(WaitForExit(program, WAIT_LIMIT_MS, &exitCode))
            << "the program did not end (waited " << WAIT_LIMIT_MS / 1000 << " s)";
        Release(&program);

        Census census = TakeCensus();
        std::vector<std::string> left = FilesIn(ProductFolder(), "twn*");
        staged += static_cast<int>(left.size());
        // Only a kill leaves the copies in flight; a closed dialog finishes or removes them.
        if (ending != END_TERMINATE)
            for (const std::string& name : left)
                ADD_FAILURE() << name << " left by a closed dialog";
        for (const std::string& name : left) DeleteFileA((ProductFolder() + "\\" + name).c_str());
        bool inRun = view.progress < 100 && census.newFiles < kFileCount;
        if (inRun) ++midRun;
        std::printf("cut-off %2d: %-10s after %5lu ms, bar %3d: %2d new, %2d old, %d damaged%s\n",
                    k + 1, kEndingNames[ending], delay, view.progress, census.newFiles,
                    census.oldFiles, census.damaged, inRun ? "" : " (the run had ended)");
        if (census.damaged == 0) ++wholePoints;
        filesDamaged += census.damaged;
        for (const std::string& name : census.damagedNames) ADD_FAILURE() << name;
    }

    // What the last cut left is completed by a new run.
    DWORD again = RunToDone();
    EXPECT_NE(0u, again) << "a run after a cut-off did not complete";
    EXPECT_EQ(kFileCount, TakeCensus().newFiles) << "a run after a cut-off left files behind";

    std::printf("%d of %d cut-off points left every file whole\n", wholePoints, points);
    std::printf(
        "cut-off points tried: %d, in the middle of the run: %d, files checked: %d, "
        "files damaged: %d, staged copies left by a cut: %d\n",
        points, midRun, points * kFileCount, filesDamaged, staged);
    EXPECT_EQ(points, wholePoints);
    // Most points must fall inside the run, or the test proves little.
    EXPECT_GE(midRun, points / 2) << "too few cut-off points fell inside the run";
}

}  // namespace
