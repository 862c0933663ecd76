// SPDX-License-Identifier: MIT
// Building from a manifest: every validation fault, round trips, determinism, --best, diff.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>

#include "authoring/code_page.h"
#include "authoring/manifest.h"
#include "extras/extras.h"
#include "package/package.h"
#include "test_support.h"
#include "commands/tidepack.h"

namespace {

// The parts of a manifest a test row changes; the rest is a valid default.
struct Parts {
    std::string codePage = "932";
    std::string title = "'サンプル製品'";
    std::string registryKey = "'HKEY_LOCAL_MACHINE\\Software\\Example\\App'";
    std::string defaultFolder = "'C:\\Program Files\\Example'";
    std::string version = "versionText = '2.1'";
    std::string top;  // more top-level keys
    std::string apps =
        "[[runningApp]]\nwindowClass = 'ExampleMain'\nmessage = '終了してください'\n";
    std::string files =
        "[[file]]\nsource = 'bin/tool.exe'\nalwaysReplace = true\n"
        "shortcuts = ['<Desktop>\\Tool', '<ProgramMenu>\\Example\\Tool;--safe']\n"
        "[[file]]\nsource = 'bin/readme.txt'\nfolder = '<InstallDir>\\Help'\n";
    std::string moves = "[[move]]\nfrom = '<Desktop>\\Old'\nto = ''\n";
};

std::string Manifest(const Parts& p) {
    return "codePage = " + p.codePage + "\ntitle = " + p.title + "\n" + p.version +
           "\nregistryKey = " + p.registryKey +
           "\nvalueName = 'InstallDir'\ndefaultFolder = " + p.defaultFolder + "\n" + p.top + "\n" +
           p.apps + "\n" + p.files + "\n" + p.moves;
}

Parts WithFiles(const std::string& files) {
    Parts parts;
    parts.files = files;
    return parts;
}

// One file whose `key` is the TOML value `value`.
std::function<void(Parts&)> Named(const std::string& key, const std::string& value) {
    return [=](Parts& p) { p.files = "[[file]]\nsource = 'bin/tool.exe'\n" + key + " = " + value; };
}

std::string Repeat(const std::string& text, int times) {
    std::string all;
    for (int i = 0; i < times; ++i) all += text;
    return all;
}

std::string ManyFiles(int count, const std::string& extra) {
    std::string files;
    for (int i = 0; i < count; ++i)
        files += "[[file]]\nsource = 'bin/tool.exe'\nfileName = 'tool" + std::to_string(i) +
                 ".exe'\n" + extra + "\n";
    return files;
}

class Build : public ::testing::Test {
protected:
    TempDir dir;
    std::string tool = std::string(2000, 'T') + "tool body" + std::string(3000, '\x01');
    std::string readme = Repeat("Read me first.\r\n", 400);

    void SetUp() override {
        WriteFile(dir / "bin/tool.exe", tool);
        WriteFile(dir / "bin/readme.txt", readme);
    }

    Output Run(const std::string& manifest, const std::string& output, bool best = false,
               unsigned threads = 0) {
        WriteFile(dir / "m.toml", manifest);
        BuildOptions options;
        options.manifest = dir / "m.toml";
        options.output = output;
        options.compression = best ? Compression::Best : Compression::Libdeflate;
        options.threads = threads;
        return Capture(
            [&](std::FILE* out, std::FILE* err) { return BuildFromManifest(options, out, err); });
    }

    Output Verify(const std::string& path) {
        ListOptions options;
        options.path = path;
        return Capture(
            [&](std::FILE* out, std::FILE* err) { return VerifyPackage(options, out, err); });
    }
};

TEST_F(Build, EachFaultIsNamedAndNothingIsWritten) {
    struct Row {
        const char* name;
        std::function<void(Parts&)> change;
        const char* message;  // a part of the one expected fault line
    } rows[] = {
        {"missing source", [](Parts& p) { p.files = "[[file]]\nsource = 'bin/gone.exe'\n"; },
         "m.toml:13:10: file 0: source file '"},
        {"title over 63 bytes in the code page",
         [](Parts& p) { p.title = "'" + Repeat("あ", 32) + "'"; },
         "title is 64 bytes in code page 932"},
        {"character not in code page 932", [](Parts& p) { p.title = "'Tool 😀'"; },
         "'😀' (U+1F600) cannot be written in code page 932"},
        {"character not in code page 1252", [](Parts& p) { p.codePage = "1252"; },
         "cannot be written in code page 1252"},
        {"unknown placeholder",
         [](Parts& p) { p.files = "[[file]]\nsource = 'bin/tool.exe'\nfolder = '<InstalDir>'\n"; },
         "folder '<InstalDir>' begins with no known placeholder"},
        {"six running applications",
         [](Parts& p) { p.apps = Repeat("[[runningApp]]\nwindowClass = 'A'\nmessage = 'm'\n", 6); },
         "6 running applications; a package holds at most 5"},
        {"seventeen run-after files", [](Parts& p) { p.files = ManyFiles(17, "runAfter = true"); },
         "17 files are marked runAfter; the update program runs at most 16"},
        {"shortcut text over 4095 bytes",
         [](Parts& p) {
             std::string lines;
             for (int i = 0; i < 40; ++i)
                 lines += "'<Desktop>\\" + std::string(100, 'a' + i % 26) + "',";
             p.files = "[[file]]\nsource = 'bin/tool.exe'\nshortcuts = [" + lines + "]\n";
         },
         "the shortcut text is 4518 bytes with its line breaks; at most 4095 fit"},
        {"shortcut line without a known tag",
         [](Parts& p) {
             p.files = "[[file]]\nsource = 'bin/tool.exe'\nshortcuts = ['<Desk>\\Tool']\n";
         },
         "shortcut line 1 '<Desk>\\Tool' begins with no known tag"},
        {"target over 259 characters",
         [](Parts& p) {
             p.defaultFolder = "'C:\\" + std::string(240, 'd') + "'";
             p.files =
                 "[[file]]\nsource = 'bin/tool.exe'\nfileName = '" + std::string(16, 'f') + "'\n";
         },
         "the target composed against defaultFolder would be 260 bytes in code page 932; at most "
         "259 fit"},
        {"registry key without a root",
         [](Parts& p) { p.registryKey = "'Software\\Example\\App'"; },
         "registryKey must begin with HKEY_LOCAL_MACHINE\\"},
        {"file name over 127 bytes",
         [](Parts& p) {
             p.files =
                 "[[file]]\nsource = 'bin/tool.exe'\nfileName = '" + std::string(128, 'n') + "'\n";
         },
         "fileName is 128 bytes in code page 932; its field holds at most 127"},
        {"misspelt key", [](Parts& p) { p.top = "subfolder = 'Bin'"; },
         "unknown key 'subfolder'; did you mean 'subFolder'?"},
        {"misspelt required key, not also missing",
         [](Parts& p) { p.version = "verisonText = '2.1'"; },
         "unknown key 'verisonText'; did you mean 'versionText'?"},
        {"header key after a file table",
         [](Parts& p) {
             p.version = "";
             p.files = "[[file]]\nsource = 'bin/tool.exe'\nversionText = '2.1'\n";
         },
         "file 0: 'versionText' belongs to the header, but TOML puts every key after a [[file]] "
         "line into that table: move it above the first line that begins with '['"},
        {"header key after [program]",
         [](Parts& p) {
             p.version = "";
             p.top = "[program]\nversionText = '2.1'";
         },
         "program: 'versionText' belongs to the header, but TOML puts every key after a "
         "[program] line into that table: move it above the first line that begins with '['"},
        {"dialog text without %s", [](Parts& p) { p.top = "[program]\nwelcome = \"Welcome\""; },
         "m.toml:8:11: program: welcome holds 0 '%s'; it needs exactly one, where the dialog puts "
         "the title"},
        {"dialog text with line breaks, without %s: no hint at escapes",
         [](Parts& p) { p.top = "[program]\nwelcome = \"Welcome\\r\\nto it\""; },
         "where the dialog puts the title\n"},
        {"yen sign for a backslash: one fault, with the hint",
         [](Parts& p) {
             p.defaultFolder = "'C:¥Program Files¥Example'";
             p.top = "createFolders = true";
             p.moves += "[[remove]]\ntarget = '<InstallDir>\\old.dll'\n";
         },
         "defaultFolder: character '¥' (U+00A5) cannot be written in code page 932; in a Windows "
         "path it is written \\"},
        {"dialog text with a lone %",
         [](Parts& p) { p.top = "[program]\nexplain = \"50% off: %s\""; },
         "program: explain holds a '%' that is not '%s'; write a percent sign as '%%'"},
        {"Japanese dialog text beyond code page 932",
         [](Parts& p) {
             p.codePage = "1252";
             p.title = "'Sample'";
             p.apps = "";
             p.top = "[program]\nwelcomeJa = \"Café %s\"";
         },
         "program: welcomeJa: "},
        {"dialog text over 511 bytes filled in",
         [](Parts& p) { p.top = "[program]\nwelcome = '" + std::string(500, 'w') + "%s'"; },
         "program: welcome is 512 bytes in code page 932 with the title in it; the dialog holds "
         "at most 511"},
        {"empty title", [](Parts& p) { p.title = "''"; }, "m.toml:2:9: title is empty"},
        {"empty defaultFolder", [](Parts& p) { p.defaultFolder = "''"; }, "defaultFolder is empty"},
        {"relative defaultFolder", [](Parts& p) { p.defaultFolder = "'Example'"; },
         "defaultFolder 'Example' is not a full path"},
        {"defaultFolder a drive's root", [](Parts& p) { p.defaultFolder = "'D:\\'"; },
         "names the root of a drive or share"},
        {"defaultFolder with escapes in double quotes",
         [](Parts& p) { p.defaultFolder = "\"C:\\temp\\new\""; },
         "m.toml:6:17: defaultFolder 'C:\\x09emp\\x0Aew' is not a full path"},
        {"subFolder with an escape", [](Parts& p) { p.top = "subFolder = \"bin\\release\""; },
         "subFolder 'bin\\x0Delease' holds the control character \\x0D (in double quotes"},
        {"unknown escape", [](Parts& p) { p.top = "subFolder = \"bin\\Release\""; },
         "escape sequence '\\R' (in double quotes a backslash begins an escape: use single"},
        {"shortcut with an escape", Named("shortcuts", "[\"<Desktop>\\tidy\"]"),
         "shortcut line 1 '<Desktop>\\x09idy' holds the control character \\x09"},
        {"shortcut ending in .lnk", Named("shortcuts", "['<Desktop>\\Tool.LNK']"),
         "ends in '.lnk'; the update program adds '.lnk' itself"},
        {"shortcut without a backslash after its tag", Named("shortcuts", "['<Desktop>Tool']"),
         "goes on from its tag without a backslash"},
        {"move climbing out",
         [](Parts& p) { p.moves = "[[move]]\nfrom = '<Desktop>\\..\\Old'\nto = ''\n"; },
         "move 0: from '<Desktop>\\..\\Old' climbs out of its folder"},
        {"TOML syntax", [](Parts& p) { p.top = "title2 = 'open"; }, "m.toml:7:"},
        {"move to without a tag",
         [](Parts& p) { p.moves = "[[move]]\nfrom = '<Desktop>\\Old'\nto = 'C:\\Old'\n"; },
         "to 'C:\\Old' begins with no known tag (leave it empty to delete)"},
        {"moves without files", [](Parts& p) { p.files = ""; },
         "shortcut moves need at least one file"},
        {"two files with one target",
         [](Parts& p) { p.files = ManyFiles(1, "") + ManyFiles(1, "folder = '<INSTALLDIR>'"); },
         "file 1 (tool0.exe): the same target as file 0 (tool0.exe), C:\\Program "
         "Files\\Example\\tool0.exe"},
        {"empty window class",
         [](Parts& p) { p.apps = "[[runningApp]]\nwindowClass = ''\nmessage = 'm'\n"; },
         "windowClass is empty"},
        {"unknown code page", [](Parts& p) { p.codePage = "12345"; }, "codePage must be"},
        {"EBCDIC code page", [](Parts& p) { p.codePage = "1047"; }, "codePage must be"},
        {"folder climbing out", Named("folder", "'<InstallDir>\\..\\..\\Windows'"),
         "folder '<InstallDir>\\..\\..\\Windows' climbs out of its folder with '..'"},
        {"folder with forward slashes", Named("folder", "'<SystemDir>/../x'"), "climbs out"},
        {"folder without a backslash", Named("folder", "'<InstallDir>2'"),
         "goes on from its placeholder without a backslash"},
        {"folder with a drive", Named("folder", "'<InstallDir>\\D:\\x'"), "holds ':'"},
        {"folder name ending in a space", Named("folder", "'<InstallDir>\\Help \\x'"),
         "has a name 'Help ' ending in a dot or space"},
        {"file name with a folder", Named("fileName", "'..\\..\\Windows\\x.dll'"),
         "fileName '..\\..\\Windows\\x.dll' holds a '\\' or '/'"},
        {"file name with a drive", Named("fileName", "'C:x.dll'"), "holds ':'"},
        {"file name with a control character", Named("fileName", "\"a\\u0001.exe\""),
         "holds the control character \\x01"},
        {"file name with a pipe", Named("fileName", "'a|b.exe'"), "holds '|'"},
        {"file name with a question mark", Named("fileName", "'a?.exe'"), "holds '?'"},
        {"file name ending in a dot", Named("fileName", "'tool.'"), "ending in a dot or space"},
        {"device name with extension", Named("fileName", "'com1.txt'"),
         "has the name 'COM1', which Windows keeps for a device"},
        {"device name", Named("fileName", "'Nul'"), "has the name 'NUL'"},
        {"icon that is no .ico", [](Parts& p) { p.top = "[program]\nicon = 'bin/readme.txt'"; },
         "m.toml:8:8: program: icon '"},
        {"icon over 256x256", [](Parts& p) { p.top = "[program]\nicon = 'big.ico'"; },
         "is too large: image 1 is 300x300"},
        {"file version over 65535",
         [](Parts& p) { p.top = "[program]\nfileVersion = '3.1.0.65536'"; },
         "m.toml:8:15: program: fileVersion '3.1.0.65536' must be four numbers of at most 65535"},
        {"text too long for the version block",
         [](Parts& p) { p.top = "[program]\ncompanyName = '" + Repeat("社", 1025) + "'"; },
         "companyName is 1025 UTF-16 characters; the version block holds at most 1024"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Parts parts;
        row.change(parts);
        if (std::string(row.name) == "character not in code page 1252")
            parts.apps = "";  // the title is Japanese
        std::string output = dir / "out.pkg";
        WriteFile(output, "previous package");
        WriteFile(dir / "big.ico", Icon(300));
        Output result = Run(Manifest(parts), output);
        EXPECT_EQ(EXIT_FAULT, result.code);
        EXPECT_NE(std::string::npos, result.err.find(row.message)) << result.err;
        EXPECT_NE(std::string::npos, result.err.find("1 fault in")) << result.err;
        EXPECT_EQ("previous package", ReadFile(output));
        EXPECT_TRUE(result.out.empty());
    }
}

// Folders to create, files to remove and registry values: each fault at its line, nothing
// written beside the package either; the steps that pass go beside it, and a later package
// without steps takes them away.
TEST_F(Build, StepsBesideThePackageAreCheckedAndWrittenBesideIt) {
    const std::string registry =
        "[[registry]]\nkey = 'HKEY_LOCAL_MACHINE\\Software\\Uninstall\\Example'\n"
        "value = 'DisplayVersion'\n";
    struct Row {
        const char* name;
        std::string top, steps;
        const char* message;  // a part of the one expected fault line; "" for none
    } rows[] = {
        {"climbing out", "", "[[remove]]\ntarget = '<InstallDir>\\..\\x.dll'\n",
         "m.toml:21:10: remove 1: target '<InstallDir>\\..\\x.dll' must name folders and a file"},
        {"a wildcard", "", "[[remove]]\ntarget = '<InstallDir>\\*.dll'\n", "must name folders"},
        {"another placeholder", "", "[[remove]]\ntarget = '<SystemDir>\\x.dll'\n",
         "must begin with <InstallDir>\\"},
        {"a packaged target", "", "[[remove]]\ntarget = '<installdir>\\TOOL.exe'\n",
         "is also the target of file 1"},
        {"removed twice", "",
         "[[remove]]\ntarget = '<InstallDir>\\a.dll'\n[[remove]]\ntarget = '<InstallDir>\\A.dll'\n",
         "is removed twice"},
        {"a key under another root", "",
         "[[registry]]\nkey = 'HKEY_CLASSES_ROOT\\x'\nvalue = 'v'\ndata = 'd'\n",
         "key 'HKEY_CLASSES_ROOT\\x' must be HKEY_LOCAL_MACHINE\\ or HKEY_CURRENT_USER\\"},
        {"a value too long", "", registry + "data = '" + std::string(1024, 'd') + "'\n",
         "data is 1024 bytes in code page 932; its field holds at most 1023"},
        {"a dword that is text", "", registry + "type = 'dword'\ndata = '3'\n",
         "data of a dword must be a number from 0 to 4294967295"},
        {"a folder outside the install folder", "", "",
         "createFolder needs a folder beneath the install folder"},
        {"all of them right", "createFolders = true",
         "[[remove]]\ntarget = '<InstallDir>\\kbold.dll'\nremoveEmptyFolder = true\n" + registry +
             "data = '2.1'\n",
         ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Parts parts;
        parts.top = row.top;
        parts.moves = row.steps;
        if (std::string(row.name) == "a folder outside the install folder")
            parts.files =
                "[[file]]\nsource = 'bin/tool.exe'\nfolder = '<SystemDir>\\x'\n"
                "createFolder = true\n";
        std::string output = dir / "out.pkg";
        WriteFile(output, "previous package");
        WriteFile(output + ".extras", "previous steps");
        Output result = Run(Manifest(parts), output);
        if (*row.message) {
            EXPECT_EQ(EXIT_FAULT, result.code);
            EXPECT_NE(std::string::npos, result.err.find(row.message)) << result.err;
            EXPECT_NE(std::string::npos, result.err.find("1 fault in")) << result.err;
            EXPECT_EQ("previous package", ReadFile(output));
            EXPECT_EQ("previous steps", ReadFile(output + ".extras"));
            continue;
        }
        ASSERT_EQ(0, result.code) << result.err;
        std::string steps = ReadFile(output + ".extras");
        ExtrasImage image{reinterpret_cast<const unsigned char*>(steps.data()),
                          static_cast<std::uint32_t>(steps.size())};
        const FolderRecord* folder;
        const RemovalRecord* removal;
        const RegistryRecord* value;
        ASSERT_EQ(1, GetFolderRecord(image, 0, &folder));
        EXPECT_STREQ("<InstallDir>\\Help", folder->folder);
        ASSERT_EQ(1, GetRemovalRecord(image, 0, &removal));
        EXPECT_EQ(REMOVAL_EMPTY_FOLDER, removal->flags);
        ASSERT_EQ(1, GetRegistryRecord(image, 0, &value));
        EXPECT_STREQ("2.1", value->text);
        EXPECT_NE(std::string::npos, Verify(output).out.find("beside it 1 folder to create"));
        // The same manifest without its steps: the package alone, nothing stale beside it.
        parts.top = parts.moves = "";
        ASSERT_EQ(0, Run(Manifest(parts), output).code);
        EXPECT_FALSE(std::filesystem::exists(output + ".extras"));
    }
}

// The limits themselves are allowed: 63 bytes of title after conversion, 259 characters of target.
TEST_F(Build, TextsThatJustFitAreTaken) {
    Parts parts;
    parts.title = "'" + Repeat("あ", 31) + "x'";
    parts.defaultFolder = "'C:\\" + std::string(240, 'd') + "'";
    parts.files = "[[file]]\nsource = 'bin/tool.exe'\nfileName = '" + std::string(15, 'f') + "'\n";
    Output result = Run(Manifest(parts), dir / "out.pkg");
    EXPECT_EQ(0, result.code) << result.err;
    EXPECT_EQ(0, Verify(dir / "out.pkg").code);
}

TEST_F(Build, ReportsEveryFaultInOneRun) {
    Parts parts;
    parts.title = "'" + Repeat("x", 64) + "'";
    parts.files =
        "[[file]]\nsource = 'bin/gone'\n[[file]]\nsource = 'bin/tool.exe'\nfolder = 'C:\\'\n";
    Output result = Run(Manifest(parts), dir / "out.pkg");
    EXPECT_EQ(EXIT_FAULT, result.code);
    EXPECT_NE(std::string::npos, result.err.find("3 faults in")) << result.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "out.pkg"));
    // Nothing is left beside the output either.
    int files = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.path)) files += e.is_regular_file();
    EXPECT_EQ(1, files);  // the manifest
}

TEST_F(Build, PackageHoldsWhatTheManifestSays) {
    Output built = Run(Manifest(Parts()), dir / "out.pkg");
    ASSERT_EQ(0, built.code) << built.err;
    std::string bytes = ReadFile(dir / "out.pkg");
    PackageImage image{reinterpret_cast<const unsigned char*>(bytes.data()),
                       static_cast<std::uint32_t>(bytes.size())};
    const PackageHeader* header;
    ASSERT_EQ(1, GetPackageHeader(image, &header));
    EXPECT_STREQ("\x83\x54\x83\x93\x83\x76\x83\x8B\x90\xBB\x95\x69", header->title);  // CP932
    EXPECT_STREQ("C:\\Program Files\\Example", header->defaultFolder);
    EXPECT_STREQ("ExampleMain", header->runningApps[0].windowClass);
    EXPECT_EQ('\0', header->runningApps[1].windowClass[0]);
    ASSERT_EQ(2, header->entryCount);

    const std::string sources[] = {tool, readme};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const PackageEntry* entry;
        const unsigned char* stream;
        ASSERT_EQ(1, GetPackageEntry(image, i, &entry));
        ASSERT_EQ(1, GetEntryStream(image, *entry, &stream));
        std::vector<unsigned char> data(entry->size + 1);
        uLongf length = entry->size;
        ASSERT_EQ(Z_OK, uncompress(data.data(), &length, stream, entry->compressedSize));
        EXPECT_EQ(sources[i], std::string(data.begin(), data.begin() + length));
    }
    const PackageEntry* tool;
    GetPackageEntry(image, 0, &tool);
    EXPECT_STREQ("tool.exe", tool->fileName);
    EXPECT_STREQ("<InstallDir>", tool->folder);
    EXPECT_EQ(ENTRY_ALWAYS_REPLACE, tool->flags);
    // A line without arguments gets its semicolon, or the program would join it to the next.
    EXPECT_STREQ("<Desktop>\\Tool;\r\n<ProgramMenu>\\Example\\Tool;--safe", tool->shortcutText);

    EXPECT_EQ(0, Verify(dir / "out.pkg").code);
    ListOptions options;
    options.path = dir / "out.pkg";
    Output list =
        Capture([&](std::FILE* out, std::FILE* err) { return ListPackage(options, out, err); });
    EXPECT_EQ(0, list.code) << list.err;
    EXPECT_NE(std::string::npos, list.out.find("title          サンプル製品"));
    EXPECT_NE(std::string::npos,
              list.out.find("target   C:\\Program Files\\Example\\Help\\readme.txt"));
}

TEST_F(Build, SameInputsGiveTheSameBytes) {
    for (bool best : {false, true}) {
        SCOPED_TRACE(best ? "best" : "libdeflate");
        std::string manifest = Manifest(WithFiles(ManyFiles(6, "")));
        ASSERT_EQ(0, Run(manifest, dir / "a.pkg", best, 1).code);
        ASSERT_EQ(0, Run(manifest, dir / "b.pkg", best, 4).code);
        ASSERT_EQ(0, Run(manifest, dir / "c.pkg", best, 0).code);
        std::string a = ReadFile(dir / "a.pkg");
        EXPECT_EQ(a, ReadFile(dir / "b.pkg"));
        EXPECT_EQ(a, ReadFile(dir / "c.pkg"));
    }
}

// On these files zopfli's streams are smaller, so --best must have taken some.
TEST_F(Build, BestStreamsAreSmallerAndInflateWithZlib) {
    ASSERT_EQ(0, Run(Manifest(Parts()), dir / "libdeflate.pkg").code);
    ASSERT_EQ(0, Run(Manifest(Parts()), dir / "best.pkg", true).code);
    EXPECT_LT(ReadFile(dir / "best.pkg").size(), ReadFile(dir / "libdeflate.pkg").size());
    Output verified = Verify(dir / "best.pkg");  // inflates every stream with zlib
    EXPECT_EQ(0, verified.code) << verified.err;
}

TEST_F(Build, EmptySourceFileBuilds) {
    WriteFile(dir / "bin/empty.dat", "");
    Output result =
        Run(Manifest(WithFiles("[[file]]\nsource = 'bin/empty.dat'\n")), dir / "o.pkg", true);
    ASSERT_EQ(0, result.code) << result.err;
    EXPECT_EQ(0, Verify(dir / "o.pkg").code);
}

// The program steps through paths by character: a second byte 0x5C (ソ, 表) is no separator,
// and nothing about it is worth a warning.
TEST_F(Build, SecondBytesThatAreBackslashesAreNoSeparators) {
    Output result = Run(Manifest(WithFiles("[[file]]\nsource = 'bin/tool.exe'\nfileName = "
                                           "'ソフト表示.exe'\nfolder = '<InstallDir>\\予定表'\n"
                                           "shortcuts = ['<ProgramMenu>\\ソフト\\ソフト表示']\n")),
                        dir / "o.pkg");
    EXPECT_EQ(0, result.code) << result.err;
    EXPECT_EQ("", result.err);
}

// Targets are one when Windows would take them for one: case folded by character, so a second
// byte 0x41-0x5A (セ is 83 5A, ホ 83 7A) is no capital letter, while é and É are one name.
TEST_F(Build, DuplicateTargetsAreFoundByCharacter) {
    const struct {
        const char* codePage;
        const char* first;
        const char* second;
        bool same;
    } rows[] = {
        {"932", "セット.txt", "ホット.txt", false}, {"932", "ＡＢ.txt", "ａｂ.txt", true},
        {"932", "Readme.TXT", "readme.txt", true},  {"1252", "Été.txt", "été.txt", true},
        {"1250", "Łódź.txt", "łódź.txt", true},     {"1251", "Дом.txt", "дом.txt", true},
        {"1253", "Άλφα.txt", "άλφα.txt", true},     {"936", "丄.txt", "乤.txt", false},
        {"950", "乙.txt", "兀.txt", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.codePage) + " " + row.first);
        Parts parts;
        parts.codePage = row.codePage;
        parts.title = "'Example'";
        parts.apps = "";
        parts.files = std::string("[[file]]\nsource = 'bin/tool.exe'\nfileName = '") + row.first +
                      "'\n[[file]]\nsource = 'bin/tool.exe'\nfileName = '" + row.second + "'\n";
        Output result = Run(Manifest(parts), dir / "o.pkg");
        EXPECT_EQ(row.same ? EXIT_FAULT : 0, result.code) << result.err;
        EXPECT_EQ(row.same, result.err.find("the same target") != std::string::npos) << result.err;
    }
}

// A level chosen from an HKEY_CURRENT_USER key for files only an administrator may write, and a
// 64-bit product's files in the 32-bit system folder, are named at build time.
TEST_F(Build, WarnsOfFilesTheProgramCannotPutWhereMeant) {
    std::string x64(0x200, '\0');
    x64.replace(0, 2, "MZ");
    x64[0x3C] = 0x40;
    x64.replace(0x40, 6, std::string("PE\0\0\x64\x86", 6));
    WriteFile(dir / "bin/x64.dll", x64);
    const std::string system = "[[file]]\nsource = 'bin/tool.exe'\nfolder = '<SystemDir>'\n";
    const struct {
        const char* registryKey;
        std::string top, files;
        const char* warning;  // null: none
    } rows[] = {
        {"HKEY_CURRENT_USER", "", system, "1 file goes where only an administrator may write"},
        {"HKEY_CURRENT_USER", "executionLevel = 'asInvoker'", system, nullptr},
        {"HKEY_LOCAL_MACHINE", "", "[[file]]\nsource = 'bin/x64.dll'\n" + system,
         "(SysWOW64), not System32, for 1 file: <SystemDir>\\tool.exe"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.warning ? row.warning : row.top);
        Parts parts;
        parts.registryKey = std::string("'") + row.registryKey + "\\Software\\Example'";
        parts.top = row.top;
        parts.files = row.files;
        Output result = Run(Manifest(parts), dir / "o.pkg");
        EXPECT_EQ(0, result.code) << result.err;
        EXPECT_EQ(row.warning != nullptr, result.err.find("warning") != std::string::npos);
        EXPECT_NE(std::string::npos, result.err.find(row.warning ? row.warning : "")) << result.err;
    }
}

TEST(CodePage, EncodesStrictlyAndDecodesSafely) {
    struct Row {
        const char* text;
        int codePage;
        const char* bytes;  // null: the conversion must fail
    } rows[] = {
        {"abc\\", 932, "abc\\"},    {"表示", 932, "\x95\x5C\x8E\xA6"},
        {"é€", 1252, "\xE9\x80"},   {"あ", 1252, nullptr},
        {"\xFF", 932, nullptr},      // not UTF-8
        {"\xE3\x81", 932, nullptr},  // cut-off UTF-8
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        std::string bytes, error;
        int ok = EncodeText(row.text, row.codePage, &bytes, &error);
        EXPECT_EQ(row.bytes != nullptr, ok == 1) << error;
        if (row.bytes) {
            EXPECT_EQ(row.bytes, bytes);
        }
    }
    EXPECT_EQ("表示", DecodeText("\x95\x5C\x8E\xA6", 932));
    EXPECT_EQ("a\\x0D\\x0Ab", DecodeText("a\r\nb", 932));
    EXPECT_EQ("x\\x81", DecodeText("x\x81", 932));  // a lead byte without its second byte
    EXPECT_EQ("\\xFFok", DecodeText("\xFFok", 65001));
}

TEST(Diff, ListsNewAndChangedFilesInAManifestThatBuilds) {
    TempDir dir;
    WriteFile(dir / "old/same.txt", "same");
    WriteFile(dir / "old/changed.dll", "version 1");
    WriteFile(dir / "old/gone.txt", "gone");
    WriteFile(dir / "old/Help/a.txt", "a");
    WriteFile(dir / "new/same.txt", "same");
    WriteFile(dir / "new/changed.dll", "version 2");
    WriteFile(dir / "new/Help/a.txt", "a");
    WriteFile(dir / "new/Help/b.txt", "b");
    WriteFile(dir / "new/Docs/new.txt", "new");
    std::filesystem::create_directories(dir / "m");
    Output diff = Capture([&](std::FILE* out, std::FILE* err) {
        return DiffReleases(dir / "old", dir / "new", dir / "m/patch.toml", false, out, err);
    });
    ASSERT_EQ(0, diff.code) << diff.err;

    std::string manifest = ReadFile(dir / "m/patch.toml");
    EXPECT_EQ(std::string::npos, manifest.find("same.txt"));
    EXPECT_NE(std::string::npos, manifest.find("# New folder Docs"));
    // At Docs' entry itself, and at no entry of a folder the old release has.
    std::size_t atEntry = manifest.find("# In Docs, new in this release");
    EXPECT_LT(atEntry, manifest.find("Docs/new.txt"));
    EXPECT_EQ(atEntry, manifest.rfind("# In "));
    // Docs' file asks for its folder; the file gone from the release is removed.
    EXPECT_NE(std::string::npos, manifest.find("fileName = 'new.txt'\nalwaysReplace = true"
                                               "           # no version to compare\n"
                                               "createFolder = true\n"))
        << manifest;
    EXPECT_NE(std::string::npos, manifest.find("[[remove]]\ntarget = '<InstallDir>\\gone.txt'\n"));

    // Not before its header is filled in.
    ManifestResult result;
    ASSERT_EQ(0, LoadManifest(dir / "m/patch.toml", &result));
    EXPECT_EQ(4u, result.faults.size()) << ::testing::PrintToString(result.faults);

    // Filled in, it builds, with sources found relative to the manifest.
    manifest.replace(manifest.find("title = ''"), 10, "title = 'X'");
    manifest.replace(manifest.find("versionText = ''"), 16, "versionText = '2'");
    std::string key = "registryKey = ''";
    manifest.replace(manifest.find(key), key.size(),
                     "registryKey = 'HKEY_CURRENT_USER\\Software\\X'");
    manifest.replace(manifest.find("defaultFolder = ''"), 18, "defaultFolder = 'C:\\X'");
    WriteFile(dir / "m/patch.toml", manifest);
    ASSERT_EQ(1, LoadManifest(dir / "m/patch.toml", &result))
        << ::testing::PrintToString(result.faults);
    std::vector<std::string> got;
    for (const WriterEntry& entry : result.package.entries)
        got.push_back(entry.folder + "|" + entry.fileName + "|" +
                      std::string(entry.data.begin(), entry.data.end()));
    EXPECT_EQ(
        (std::vector<std::string>{"<InstallDir>\\Docs|new.txt|new", "<InstallDir>\\Help|b.txt|b",
                                  "<InstallDir>|changed.dll|version 2"}),
        got);
}

TEST(Toml, StringsSurviveTheRoundTrip) {
    TempDir dir;
    const std::string texts[] = {"C:\\Program Files\\X", "it's", "a\"b\\c", "tab\there", "日本"};
    std::string manifest =
        "codePage = 932\ntitle = 't'\nversionText = '1'\nregistryKey = 'HKEY_CURRENT_USER\\X'\n"
        "valueName = ''\ndefaultFolder = 'C:\\X'\n[[runningApp]]\nwindowClass = 'W'\n";
    for (const std::string& text : texts) {
        std::string file = dir / "t.toml";
        WriteFile(file, manifest + "message = " + TomlString(text) + "\n");
        ManifestResult result;
        ASSERT_EQ(1, LoadManifest(file, &result)) << text;
        std::string bytes, error;
        EncodeText(text, 932, &bytes, &error);
        EXPECT_EQ(bytes, result.package.runningApps.at(0).message);
    }
}

}  // namespace
