// SPDX-License-Identifier: MIT
// Damaged packages put into the real Tidewell.exe and applied through its dialog. For each one
// the program must neither crash nor hang, must reach a sane end (done, or stopped when not
// even the header is whole), and every installed file must afterwards be exactly its old or
// its new version as the package's whole parts decide: damage never reaches a file.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "base/text.h"
#include "harden_support.h"
#include "package/package.h"
#include "package/package_writer.h"

namespace {

const char kRoot[] = "C:\\tidewell-harden\\malformed";
const char kRegistryKey[] = "Software\\Tidewell Hardening\\Malformed";
const char kShortcutGroup[] = "Tidewell Hardening";

std::string ProductFolder() { return std::string(kRoot) + "\\Product"; }
std::string TempFolderOfRuns() { return std::string(kRoot) + "\\temp"; }
std::string ShortcutFolder() { return ProgramMenuFolder() + "\\" + kShortcutGroup; }
std::string ShortcutLine(const std::string& name) {
    return std::string("<ProgramMenu>\\") + kShortcutGroup + "\\" + name;
}

// The product: four files the package replaces, one it never names. Entry i of the package
// replaces kFiles[i].
struct ProductFile {
    const char* path;  // under the product folder
    Bytes oldBytes;
    Bytes newBytes;
};

std::vector<ProductFile> MakeFiles() {
    return {{"app.exe", TextBytes(5000, "app 1.0"), TextBytes(6100, "app 2.0")},
            {"core.dll", NoiseBytes(48000, 1), NoiseBytes(52000, 2)},
            {"readme.txt", TextBytes(900, "readme 1.0"), TextBytes(1400, "readme 2.0")},
            {"data\\table.bin", NoiseBytes(20000, 3), NoiseBytes(19000, 4)},
            {"user.cfg", TextBytes(300, "the user's own settings"), {}}};
}

const std::vector<ProductFile>& Files() {
    static const std::vector<ProductFile> files = MakeFiles();
    return files;
}
constexpr int kEntries = 4;
const Bytes kOldLink = {'o', 'l', 'd', ' ', 'l', 'i', 'n', 'k'};

WriterPackage BasePackage() {
    WriterPackage package;
    package.title = "Hardening Product";
    package.versionText = "2.0";
    package.registryKey = std::string("HKEY_CURRENT_USER\\") + kRegistryKey;
    package.valueName = "InstallDir";
    package.defaultFolder = std::string(kRoot) + "\\NotInstalled";
    const char* folders[kEntries] = {"<InstallDir>", "<InstallDir>", "<InstallDir>",
                                     "<InstallDir>\\data"};
    const char* names[kEntries] = {"app.exe", "core.dll", "readme.txt", "table.bin"};
    for (int i = 0; i < kEntries; ++i) {
        WriterEntry entry;
        entry.fileName = names[i];
        entry.folder = folders[i];
        // readme.txt goes by the version rule: neither copy has a version, so it replaces.
        entry.flags = i == 2 ? 0 : ENTRY_ALWAYS_REPLACE;
        entry.data = Files()[i].newBytes;
        if (i == 2) entry.shortcutText = ShortcutLine("Readme") + ";";
        package.entries.push_back(entry);
    }
    package.moves = {{ShortcutLine("Old"), ShortcutLine("Moved")}};
    return package;
}

Bytes Build(const WriterPackage& package) {
    Bytes bytes;
    std::string error;
    EXPECT_EQ(1, BuildPackage(package, &bytes, &error)) << error;
    return bytes;
}

PackageEntry* EntryAt(Bytes& bytes, int index) {
    return reinterpret_cast<PackageEntry*>(bytes.data() + HEADER_SIZE + ENTRY_SIZE * index);
}
PackageHeader* HeaderOf(Bytes& bytes) { return reinterpret_cast<PackageHeader*>(bytes.data()); }
std::uint32_t StreamEnd(Bytes& bytes, int index) {
    return EntryAt(bytes, index)->streamOffset + EntryAt(bytes, index)->compressedSize;
}

enum End { END_DONE, END_STOPPED };

// What must be on the machine once the program has ended.
struct Expected {
    End end = END_DONE;
    unsigned newFiles = 0;  // bit i: entry i's target is its new version; else its old one
    int readmeLink = 0;     // the shortcut of readme.txt's entry was made
    int moved = 0;          // Old.lnk became Moved.lnk; else Old.lnk stays where it was
    int otherLinks = 0;     // further shortcuts in the group (the shortcut-text cases)
    // What the run returns: 0 when it did all that could be read; 1603 when an entry it reached
    // was damaged or named no place, or when the package cannot be applied at all (a header or
    // an entry table cut short), also for a stopped run that Cancel then ends: nothing was there
    // to cancel.
    int exitCode = 0;
};

struct Case {
    std::string name;
    Bytes package;
    Expected expected;
};

Expected Whole() { return {END_DONE, 0xF, 1, 1, 0, 0}; }
// Entries `oldFiles` damaged.
Expected WholeBut(unsigned oldFiles) {
    Expected expected = Whole();
    expected.newFiles &= ~oldFiles;
    expected.exitCode = 1603;
    return expected;
}
Expected NothingApplied(int exitCode = 0) { return {END_DONE, 0, 0, 0, 0, exitCode}; }

// What the base package cut at `cut` bytes still holds whole: a record or stream counts only
// when every byte of it lies before the cut.
Expected TruncatedAt(Bytes base, std::uint32_t cut) {
    if (cut < HEADER_SIZE) return {END_STOPPED, 0, 0, 0, 0, 1603};
    // Fewer records than the header counts: nothing of it is applied.
    if (cut < HEADER_SIZE + ENTRY_SIZE * kEntries) return NothingApplied(1603);
    Expected expected = NothingApplied();
    for (int i = 0; i < kEntries; ++i) {
        if (HEADER_SIZE + ENTRY_SIZE * (i + 1) > cut) break;
        if (StreamEnd(base, i) <= cut)
            expected.newFiles |= 1u << i;
        else
            expected.exitCode = 1603;  // a record whose stream is cut: damaged
        if (i == 2) expected.readmeLink = 1;
        if (i == kEntries - 1)
            expected.moved = StreamEnd(base, i) + MOVE_COUNT_SIZE + MOVE_RECORD_SIZE <= cut;
    }
    return expected;
}

struct Tally {
    int packages = 0;
    int saneEnds = 0;
    int filesChecked = 0;
    int filesDamaged = 0;
};

Tally& TheTally() {
    static Tally tally;
    return tally;
}

class Figures : public ::testing::Environment {
public:
    void TearDown() override {
        const Tally& tally = TheTally();
        std::printf(
            "malformed packages tried: %d, sane ends: %d of %d, files checked: %d, "
            "files damaged: %d\n",
            tally.packages, tally.saneEnds, tally.packages, tally.filesChecked, tally.filesDamaged);
    }
};
::testing::Environment* const kFigures = ::testing::AddGlobalTestEnvironment(new Figures);

std::string TemplateProgram() { return WindowsPath(TIDEWELL_PROGRAM); }

class Malformed : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        RemoveTree(kRoot);
        MakeFolderChain(std::string(kRoot) + "\\bin");
        UnmanagedWindows();
    }
    static void TearDownTestSuite() {
        RemoveTree(kRoot);
        RemoveTree(ShortcutFolder());
        DeleteKey(kRegistryKey);
        ForgetUnmanagedWindows();
    }

    void SetUp() override {
        if (DisplayName().empty())
            GTEST_SKIP() << "no X display for the dialog; scripts/test starts Xvfb";
    }

    // The old version installed afresh, with the user's shortcut to be moved.
    void Install() {
        RemoveTree(ProductFolder());
        RemoveTree(TempFolderOfRuns());
        RemoveTree(ShortcutFolder());
        MakeFolderChain(ProductFolder() + "\\data");
        MakeFolderChain(TempFolderOfRuns());
        MakeFolderChain(ShortcutFolder());
        for (const ProductFile& file : Files())
            ASSERT_TRUE(WriteBytes(ProductFolder() + "\\" + file.path, file.oldBytes));
        ASSERT_TRUE(WriteBytes(ShortcutFolder() + "\\Old.lnk", kOldLink));
        ASSERT_TRUE(SetInstallDir(kRegistryKey, ProductFolder()));
    }

    // Puts the case's package into the program, applies it through the dialog and checks the
    // end and every file.
    void Apply(const Case& c) {
        SCOPED_TRACE("package: " + c.name);
        ++TheTally().packages;
        Install();
        if (HasFatalFailure()) return;
        std::string exe = std::string(kRoot) + "\\bin\\" + PROGRAM_NAME;
        ASSERT_TRUE(MakeProgram(TemplateProgram(), exe, c.package)) << "cannot write " << exe;

        Program program;
        ASSERT_TRUE(StartProgram(exe, TempFolderOfRuns(), &program)) << "no dialog";
        Press(program.dialog, IDC_UPDATE_BUTTON);
        bool sane = false;
        if (c.expected.end == END_DONE) {
            sane = WaitForDone(program, WAIT_LIMIT_MS);
            EXPECT_TRUE(sane) << "the run did not reach done (waited " << WAIT_LIMIT_MS / 1000
                              << " s)";
            Press(program.dialog, IDC_UPDATE_BUTTON);  // Finish
        } else {
            // Stopped: Update stays grey, Cancel is the way out, the bar never moved. Looked at
            // once the press has been taken (Update grey) and the run is over.
            DWORD start = GetTickCount();
            while (ReadDialog(program.dialog).updateEnabled &&
                   GetTickCount() - start < WAIT_LIMIT_MS)
                Sleep(20);
            EXPECT_TRUE(WaitForRunEnd(program, WAIT_LIMIT_MS))
                << "the run did not end (waited " << (GetTickCount() - start) / 1000 << " s)";
            DialogView view = ReadDialog(program.dialog);
            sane = view.exists && !view.updateEnabled && view.cancelEnabled && view.progress == 0;
            EXPECT_TRUE(sane) << "not stopped: exists " << view.exists << " update "
                              << view.updateEnabled << " cancel " << view.cancelEnabled << " bar "
                              << view.progress;
            Press(program.dialog, IDC_CANCEL_BUTTON);
        }
        DWORD exitCode = 0;
        bool ended = WaitForExit(program, WAIT_LIMIT_MS, &exitCode);
        EXPECT_TRUE(ended) << "the program hangs (waited " << WAIT_LIMIT_MS / 1000 << " s)";
        if (ended) {
            EXPECT_EQ(static_cast<DWORD>(c.expected.exitCode), exitCode)
                << "the program crashed, or ended with another code";
        }
        sane = sane && ended && exitCode == static_cast<DWORD>(c.expected.exitCode);
        Release(&program);
        if (sane) ++TheTally().saneEnds;
        CheckFiles(c.expected);
    }

    void CheckFiles(const Expected& expected) {
        for (std::size_t i = 0; i < Files().size(); ++i) {
            const ProductFile& file = Files()[i];
            bool becomesNew = i < kEntries && (expected.newFiles & (1u << i));
            const Bytes& want = becomesNew ? file.newBytes : file.oldBytes;
            Bytes got = ReadBytes(ProductFolder() + "\\" + file.path);
            ++TheTally().filesChecked;
            bool whole = HashOf(got) == HashOf(file.oldBytes) ||
                         (i < kEntries && HashOf(got) == HashOf(file.newBytes));
            if (!whole) ++TheTally().filesDamaged;
            EXPECT_EQ(HashOf(want), HashOf(got))
                << file.path << " should be its " << (becomesNew ? "new" : "old") << " version; "
                << (whole ? "it is the other one" : "it is damaged or missing");
        }
        std::vector<std::string> staged = FilesIn(ProductFolder(), "twn*");
        EXPECT_TRUE(staged.empty()) << "a staged copy was left in the product folder";

        std::string group = ShortcutFolder();
        bool oldThere = Exists(group + "\\Old.lnk");
        bool movedThere = Exists(group + "\\Moved.lnk");
        if (expected.moved) {
            EXPECT_TRUE(!oldThere && movedThere) << "the move was not made";
            EXPECT_EQ(kOldLink, ReadBytes(group + "\\Moved.lnk"));
        } else {
            EXPECT_TRUE(oldThere && !movedThere) << "the user's shortcut was moved or lost";
            EXPECT_EQ(kOldLink, ReadBytes(group + "\\Old.lnk"));
        }
        EXPECT_EQ(expected.readmeLink, Exists(group + "\\Readme.lnk") ? 1 : 0);
        int others = 0;
        for (const std::string& name : FilesIn(group, "*.lnk"))
            if (name != "Old.lnk" && name != "Moved.lnk" && name != "Readme.lnk") ++others;
        EXPECT_EQ(expected.otherLinks, others);
    }

    void ApplyAll(const std::vector<Case>& cases) {
        for (const Case& c : cases) {
            Apply(c);
            if (HasFatalFailure()) return;
        }
    }
};

Bytes Base() { return Build(BasePackage()); }

Case Modified(const std::string& name, const std::function<void(Bytes&)>& change,
              const Expected& expected) {
    Bytes bytes = Base();
    change(bytes);
    return {name, bytes, expected};
}

TEST_F(Malformed, WholePackageAppliesEverything) { ApplyAll({{"whole", Base(), Whole()}}); }

TEST_F(Malformed, TruncatedAtEveryRegionBoundaryAndInsideStreams) {
    Bytes base = Base();
    std::vector<std::uint32_t> cuts = {
        1, 4, 884, HEADER_SIZE - 1, HEADER_SIZE, HEADER_SIZE + ENTRY_SIZE / 2};
    for (int i = 1; i <= kEntries; ++i) cuts.push_back(HEADER_SIZE + ENTRY_SIZE * i);
    for (int i = 0; i < kEntries; ++i) {
        std::uint32_t start = EntryAt(base, i)->streamOffset;
        std::uint32_t end = StreamEnd(base, i);
        cuts.push_back(start + 2);  // the zlib header only
        cuts.push_back(start + (end - start) / 2);
        cuts.push_back(end - 1);  // part of the Adler-32 missing
        if (i < kEntries - 1) cuts.push_back(end);
    }
    std::uint32_t table = StreamEnd(base, kEntries - 1);
    for (std::uint32_t cut :
         {table, table + 2, table + MOVE_COUNT_SIZE, table + MOVE_COUNT_SIZE + MOVE_RECORD_SIZE / 2,
          static_cast<std::uint32_t>(base.size()) - 1})
        cuts.push_back(cut);
    std::vector<Case> cases;
    for (std::uint32_t cut : cuts) {
        Bytes bytes(base.begin(), base.begin() + cut);
        cases.push_back({"cut at " + std::to_string(cut), bytes, TruncatedAt(base, cut)});
    }
    ApplyAll(cases);
}

TEST_F(Malformed, OffsetsAndSizesPastTheEnd) {
    const std::uint32_t size = static_cast<std::uint32_t>(Base().size());
    ApplyAll({
        Modified(
            "streamOffset past the end", [&](Bytes& b) { EntryAt(b, 1)->streamOffset = size + 16; },
            WholeBut(0x2)),
        Modified(
            "streamOffset + compressedSize wraps 32 bits",
            [](Bytes& b) { EntryAt(b, 1)->streamOffset = 0xFFFFFF00u; }, WholeBut(0x2)),
        Modified(
            "compressedSize past the end", [&](Bytes& b) { EntryAt(b, 1)->compressedSize = size; },
            WholeBut(0x2)),
        // The move table lies behind the last stream: it goes with it.
        Modified("last entry's compressedSize past the end",
                 [](Bytes& b) { EntryAt(b, kEntries - 1)->compressedSize = 0xFFFFFFF0u; },
                 {END_DONE, 0x7, 1, 0, 0, 1603}),
        Modified("last entry's streamOffset past the end",
                 [&](Bytes& b) { EntryAt(b, kEntries - 1)->streamOffset = size; },
                 {END_DONE, 0x7, 1, 0, 0, 1603}),
    });
}

TEST_F(Malformed, StreamsThatDoNotInflateToTheirSize) {
    ApplyAll({
        Modified(
            "inflates one byte shorter than size", [](Bytes& b) { EntryAt(b, 1)->size += 1; },
            WholeBut(0x2)),
        Modified(
            "inflates one byte longer than size", [](Bytes& b) { EntryAt(b, 1)->size -= 1; },
            WholeBut(0x2)),
        Modified(
            "size 0 for a stream with data", [](Bytes& b) { EntryAt(b, 1)->size = 0; },
            WholeBut(0x2)),
        Modified(
            "size 2^31 - 1", [](Bytes& b) { EntryAt(b, 1)->size = 0x7FFFFFFFu; }, WholeBut(0x2)),
        Modified(
            "size 2^32 - 1", [](Bytes& b) { EntryAt(b, 1)->size = 0xFFFFFFFFu; }, WholeBut(0x2)),
        Modified(
            "corrupt Adler-32", [](Bytes& b) { b[StreamEnd(b, 1) - 1] ^= 0x5A; }, WholeBut(0x2)),
        Modified(
            "corrupt deflate data",
            [](Bytes& b) {
                PackageEntry* e = EntryAt(b, 0);
                b[e->streamOffset + e->compressedSize / 2] ^= 0xFF;
            },
            WholeBut(0x1)),
        Modified(
            "a stream of another entry",
            [](Bytes& b) { EntryAt(b, 1)->streamOffset = EntryAt(b, 0)->streamOffset; },
            WholeBut(0x2)),
    });
}

TEST_F(Malformed, EntryAndMoveCounts) {
    auto entries = [](std::int32_t count) {
        return [count](Bytes& b) { HeaderOf(b)->entryCount = count; };
    };
    auto moves = [](std::int32_t count) {
        return [count](Bytes& b) {
            std::memcpy(b.data() + StreamEnd(b, kEntries - 1), &count, sizeof count);
        };
    };
    ApplyAll({
        Modified("entryCount -1", entries(-1), NothingApplied()),
        Modified("entryCount 0", entries(0), NothingApplied()),
        Modified("entryCount INT_MIN", entries(INT_MIN), NothingApplied()),
        // Records past the table are read out of the streams' bytes, and name no target (not
        // done); the last entry is never reached, so there is no move table.
        Modified("entryCount one more than the records", entries(kEntries + 1),
                 {END_DONE, 0xF, 1, 0, 0, 1603}),
        // Records that run past the package: a table cut short, nothing applied.
        Modified("entryCount INT_MAX", entries(INT_MAX), NothingApplied(1603)),
        // The move table is looked for behind entry 2's stream, in entry 3's stream bytes.
        Modified("entryCount one less than the records", entries(kEntries - 1),
                 {END_DONE, 0x7, 1, 0, 0}),
        Modified("moveCount -1", moves(-1), {END_DONE, 0xF, 1, 0, 0}),
        Modified("moveCount 0", moves(0), {END_DONE, 0xF, 1, 0, 0}),
        Modified("moveCount INT_MIN", moves(INT_MIN), {END_DONE, 0xF, 1, 0, 0}),
        Modified("moveCount 2, one record", moves(2), Whole()),
        Modified("moveCount INT_MAX", moves(INT_MAX), Whole()),
    });
}

TEST_F(Malformed, TextsWithoutTerminatorToTheEnd) {
    // The move's `to` fills its field and the package ends there: unreadable, so the user's
    // shortcut must stay (a `to` that does not resolve would delete it).
    Bytes openTo = Base();
    std::uint32_t toField = StreamEnd(openTo, kEntries - 1) + MOVE_COUNT_SIZE + 260;
    std::memset(openTo.data() + toField, 'T', 260);
    // Every header text runs into the next and on to the package's end; entryCount is then
    // 0x54545454, with no record in the package: a table cut short.
    Bytes openHeader(HEADER_SIZE, 'T');
    // The only entry's shortcut text fills its field and runs through its flags to the end.
    WriterPackage one = BasePackage();
    one.entries.resize(1);
    one.moves.clear();
    Bytes openShortcut = Build(one);
    openShortcut.resize(HEADER_SIZE + ENTRY_SIZE);
    std::memset(EntryAt(openShortcut, 0)->shortcutText, 'S', SHORTCUT_TEXT_SIZE);
    EntryAt(openShortcut, 0)->flags = 0x41414141;  // 'AAAA': replace always, nothing to run
    ApplyAll({
        {"move `to` open to the end", openTo, {END_DONE, 0xF, 1, 0, 0}},
        {"header texts open to the end", openHeader, NothingApplied(1603)},
        // Its stream is gone with the rest of the package: damaged.
        {"shortcut text open to the end", openShortcut, NothingApplied(1603)},
    });
}

TEST_F(Malformed, TargetsAtAndPastThe259CharacterLimit) {
    // C:\tidewell-harden\malformed\Product is 36 characters; a 100-character folder below it
    // and a 121-character name give 259.
    const std::string deep(100, 'd');
    WriterPackage package = BasePackage();
    WriterEntry fits;
    fits.fileName = std::string(121, 'f');
    fits.folder = "<InstallDir>\\" + deep;
    fits.flags = ENTRY_ALWAYS_REPLACE;
    fits.data = TextBytes(700, "fits");
    WriterEntry tooLong = fits;
    tooLong.fileName = std::string(122, 'f');
    tooLong.shortcutText = ShortcutLine("TooLong") + ";";
    // The last entry stays last: the move table is found behind its stream.
    package.entries.insert(package.entries.begin(), {fits, tooLong});
    Bytes bytes = Build(package);
    SCOPED_TRACE("targets of 259 and 260 characters");
    Install();
    MakeFolderChain(ProductFolder() + "\\" + deep);
    std::string exe = std::string(kRoot) + "\\bin\\" + PROGRAM_NAME;
    ASSERT_TRUE(MakeProgram(TemplateProgram(), exe, bytes));
    ++TheTally().packages;
    Program program;
    ASSERT_TRUE(StartProgram(exe, TempFolderOfRuns(), &program)) << "no dialog";
    Press(program.dialog, IDC_UPDATE_BUTTON);
    bool done = WaitForDone(program, WAIT_LIMIT_MS);
    EXPECT_TRUE(done);
    Press(program.dialog, IDC_UPDATE_BUTTON);
    DWORD exitCode = 1;
    bool ended = WaitForExit(program, WAIT_LIMIT_MS, &exitCode);
    // The 260-character target is not written: something was not done.
    EXPECT_TRUE(ended && exitCode == 1603) << exitCode;
    Release(&program);
    if (done && ended && exitCode == 1603) ++TheTally().saneEnds;

    std::string folder = ProductFolder() + "\\" + deep;
    ASSERT_EQ(259u, (folder + "\\" + fits.fileName).size());
    EXPECT_EQ(fits.data, ReadBytes(folder + "\\" + fits.fileName)) << "the 259-character target";
    EXPECT_EQ(1u, FilesIn(folder, "*").size()) << "a 260-character target was written";
    EXPECT_FALSE(Exists(ShortcutFolder() + "\\TooLong.lnk"))
        << "a shortcut to a target that does not fit";
    CheckFiles(Whole());
}

TEST_F(Malformed, ShortcutTextFillingItsField) {
    // As many lines as the 4096-byte field holds with its terminator, each one a shortcut.
    std::string text;
    int lines = 0;
    for (;;) {
        char line[64];
        std::snprintf(line, sizeof line, "%s;\r\n",
                      ShortcutLine("Fill" + std::to_string(lines)).c_str());
        if (text.size() + std::strlen(line) > SHORTCUT_TEXT_SIZE - 1) break;
        text += line;
        ++lines;
    }
    text.resize(SHORTCUT_TEXT_SIZE - 1, ' ');  // the last line's blanks are trimmed
    WriterPackage full = BasePackage();
    full.entries[2].shortcutText = text;
    Expected expected = Whole();
    expected.readmeLink = 0;
    expected.otherLinks = lines;

    // The same field without its terminator: the text runs into the flags, is no text the
    // field can hold, and makes no shortcut at all.
    Bytes open = Build(full);
    std::memset(EntryAt(open, 2)->shortcutText + SHORTCUT_TEXT_SIZE - 1, ';', 1);
    Expected none = Whole();
    none.readmeLink = 0;
    ApplyAll({{"shortcut text of 4095 bytes, " + std::to_string(lines) + " lines", Build(full),
               expected},
              {"shortcut text of 4096 bytes without its terminator", open, none}});
}

}  // namespace
