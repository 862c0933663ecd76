// SPDX-License-Identifier: MIT
// verify and list against damaged packages, and the command line's conventions.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstring>

#include "package/package.h"
#include "package/package_writer.h"
#include "test_support.h"
#include "commands/tidepack.h"
#include "signing/signature.h"

namespace {

std::vector<unsigned char> Bytes(const std::string& text) {
    return std::vector<unsigned char>(text.begin(), text.end());
}

std::string SamplePackage() {
    WriterPackage package;
    package.title = "Example";
    package.versionText = "2.0";
    package.registryKey = "HKEY_LOCAL_MACHINE\\Software\\Example";
    package.valueName = "Dir";
    package.defaultFolder = "C:\\Example";
    package.entries = {
        {"tool.exe",
         "<InstallDir>",
         "<Desktop>\\Tool;",
         ENTRY_ALWAYS_REPLACE,
         Bytes(std::string(3000, 'x') + "tail"),
         {}},
        {"a.dll", "<SystemDir>", "", 0, Bytes("the dll"), {}},
        {"b.txt", "<InstallDir>\\Docs", "", ENTRY_RUN_AFTER, Bytes("b"), {}},
    };
    package.moves = {{"<Desktop>\\Old", ""}};
    std::vector<unsigned char> bytes;
    std::string error;
    EXPECT_EQ(1, BuildPackage(package, &bytes, &error)) << error;
    return std::string(bytes.begin(), bytes.end());
}

// Little-endian u32 fields of entry `i`.
void SetEntryField(std::string* package, int i, std::size_t field, std::uint32_t value) {
    std::memcpy(&(*package)[HEADER_SIZE + ENTRY_SIZE * i + field], &value, 4);
}

std::uint32_t EntryField(const std::string& package, int i, std::size_t field) {
    std::uint32_t value;
    std::memcpy(&value, &package[HEADER_SIZE + ENTRY_SIZE * i + field], 4);
    return value;
}

constexpr std::size_t OFFSET = 0, COMPRESSED = 4, SIZE = 8;

Output Check(int (*command)(const ListOptions&, std::FILE*, std::FILE*), const std::string& path) {
    ListOptions options;
    options.path = path;
    return Capture([&](std::FILE* out, std::FILE* err) { return command(options, out, err); });
}

TEST(Verify, FindsEachDamage) {
    TempDir dir;
    const std::string good = SamplePackage();
    std::uint32_t moveTable = EntryField(good, 2, OFFSET) + EntryField(good, 2, COMPRESSED);
    struct Row {
        const char* name;
        std::function<void(std::string&)> damage;
        const char* fault;
    } rows[] = {
        {"Adler-32 wrong",
         [](std::string& p) {
             p[EntryField(p, 1, OFFSET) + EntryField(p, 1, COMPRESSED) - 1] ^= 1;
         },
         "entry 1 (a.dll): stream at offset 15625: damaged: zlib says incorrect data check"},
        {"only libdeflate takes it",
         [](std::string& p) {
             // A fixed block: 'x', then length symbol 286 (258 for libdeflate) at distance 1.
             const char stream[] = "\x78\x01\xab\x18\x03\x00\xab\x66\x79\x69";
             std::memcpy(&p[EntryField(p, 1, OFFSET)], stream, 10);
             SetEntryField(&p, 1, COMPRESSED, 10);
             SetEntryField(&p, 1, SIZE, 259);
         },
         "entry 1 (a.dll): stream at offset 15625: accepted by the update program, refused by "
         "zlib: invalid literal/length code"},
        {"size one more", [](std::string& p) { SetEntryField(&p, 0, SIZE, 3005); },
         "inflates to 3004 bytes, not size 3005"},
        {"size one less", [](std::string& p) { SetEntryField(&p, 0, SIZE, 3003); },
         "inflates to more than size 3003 bytes"},
        {"stream past the end",
         [](std::string& p) { SetEntryField(&p, 1, COMPRESSED, 0xFFFFFF00u); },
         "entry 1 (a.dll): stream at offset 15625, 4294967040 bytes, lies outside the package"},
        {"compressedSize one short",
         [](std::string& p) { SetEntryField(&p, 0, COMPRESSED, EntryField(p, 0, COMPRESSED) - 1); },
         "ends before the zlib stream does"},
        {"bytes after the stream",
         [](std::string& p) { SetEntryField(&p, 0, COMPRESSED, EntryField(p, 0, COMPRESSED) + 3); },
         "3 bytes follow the zlib stream inside compressedSize"},
        {"stream over the entry table", [](std::string& p) { SetEntryField(&p, 1, OFFSET, 100); },
         "overlaps the header or the entry table"},
        {"last stream not last",
         [moveTable](std::string& p) { SetEntryField(&p, 0, OFFSET, moveTable - 2); },
         "entry 0's stream ends behind the last entry's"},
        {"entry table past the end",
         [](std::string& p) {
             std::int32_t n = 1000;
             std::memcpy(&p[884], &n, 4);
         },
         "the table of 1000 entries reaches past the end"},
        {"title fills its field", [](std::string& p) { std::memset(&p[4], 'A', 64); },
         "offset 4: title does not end inside its field of 64 bytes"},
        {"folder without placeholder",
         [](std::string& p) { std::memcpy(&p[HEADER_SIZE + 140], "C:\\", 4); },
         "entry 0 (tool.exe): folder begins with no file placeholder"},
        {"shortcut without semicolon", [](std::string& p) { p[HEADER_SIZE + 268 + 14] = ' '; },
         "shortcut line 1: no semicolon"},
        {"move record cut off", [](std::string& p) { p.resize(p.size() - 10); },
         "move 0 of 1 reaches past the end"},
        {"move count cut off", [moveTable](std::string& p) { p.resize(moveTable + 2); },
         "the move table behind the last entry's stream lies past the end"},
        {"shorter than a header", [](std::string& p) { p.resize(HEADER_SIZE - 1); },
         "not a package: 2487 bytes is shorter than a package header"},
        {"registry key without root", [](std::string& p) { std::memcpy(&p[84], "Software", 8); },
         "registryKey begins with no root name"},
        {"folder climbing out",
         [](std::string& p) {
             std::memcpy(&p[HEADER_SIZE + 2 * ENTRY_SIZE + 140], "<InstallDir>\\..", 16);
         },
         "entry 2 (b.txt): folder climbs out of its folder with '..'"},
        {"streams overlapping",
         [](std::string& p) { SetEntryField(&p, 1, OFFSET, EntryField(p, 0, OFFSET) + 1); },
         "entry 1: stream at offset 15593, 15 bytes, overlaps entry 0's stream at offset 15592, "
         "33"},
    };
    WriteFile(dir / "good.pkg", good);
    Output clean = Check(VerifyPackage, dir / "good.pkg");
    ASSERT_EQ(0, clean.code) << clean.err;
    EXPECT_EQ("", clean.err);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string damaged = good;
        row.damage(damaged);
        WriteFile(dir / "bad.pkg", damaged);
        Output result = Check(VerifyPackage, dir / "bad.pkg");
        EXPECT_EQ(EXIT_FAULT, result.code);
        EXPECT_NE(std::string::npos, result.err.find(row.fault)) << result.err;
        EXPECT_EQ("", result.out);
    }
    // Entries may share one stream whole; each is still held to its own size.
    std::string shared = good;
    for (std::size_t field : {OFFSET, COMPRESSED, SIZE})
        SetEntryField(&shared, 1, field, EntryField(good, 0, field));
    WriteFile(dir / "shared.pkg", shared);
    Output sharing = Check(VerifyPackage, dir / "shared.pkg");
    EXPECT_EQ(0, sharing.code) << sharing.err;
    SetEntryField(&shared, 1, SIZE, 3003);
    WriteFile(dir / "shared.pkg", shared);
    sharing = Check(VerifyPackage, dir / "shared.pkg");
    EXPECT_NE(std::string::npos,
              sharing.err.find("entry 1 (a.dll): stream at offset 15592: inflates to more than "
                               "size 3003 bytes\n" +
                               (dir / "shared.pkg") + ": 1 fault\n"))
        << sharing.err;  // and nothing about entry 0
}

TEST(List, DamagedPackageIsListedAsFarAsItCanBeRead) {
    TempDir dir;
    std::string package = SamplePackage();
    package.resize(HEADER_SIZE + ENTRY_SIZE + 100);  // cut inside entry 1
    WriteFile(dir / "cut.pkg", package);
    Output result = Check(ListPackage, dir / "cut.pkg");
    EXPECT_EQ(EXIT_FAULT, result.code);
    EXPECT_NE(std::string::npos, result.out.find("title          Example"));
    EXPECT_NE(std::string::npos, result.out.find("target   C:\\Example\\tool.exe"));
    EXPECT_EQ(std::string::npos, result.out.find("a.dll"));
    EXPECT_NE(std::string::npos,
              result.err.find("offset 6856: entry 1 of 3 reaches past the end of the package"))
        << result.err;
}

TEST(List, NotAPackage) {
    TempDir dir;
    WriteFile(dir / "notes.txt", "just some text\n");
    Output result = Check(ListPackage, dir / "notes.txt");
    EXPECT_EQ(EXIT_FAULT, result.code);
    EXPECT_NE(std::string::npos,
              result.err.find("not a package: 15 bytes is shorter than a package header"));
    Output missing = Check(ListPackage, dir / "none.pkg");
    EXPECT_EQ(EXIT_FAULT, missing.code);
    EXPECT_NE(std::string::npos, missing.err.find("none.pkg: No such file or directory"));
}

// Cut anywhere, a package gives faults and never a read outside it (ASan watches this).
TEST(VerifyAndList, EveryPrefixIsAFaultNeverACrash) {
    TempDir dir;
    const std::string good = SamplePackage();
    std::vector<std::size_t> cuts;
    for (std::size_t n = 0; n < good.size(); n += 61) cuts.push_back(n);
    std::uint32_t moveTable = EntryField(good, 2, OFFSET) + EntryField(good, 2, COMPRESSED);
    for (std::size_t edge : {std::size_t(HEADER_SIZE), std::size_t(HEADER_SIZE + ENTRY_SIZE),
                             std::size_t(HEADER_SIZE + 3 * ENTRY_SIZE), std::size_t(moveTable),
                             std::size_t(moveTable + 4), good.size()})
        for (std::size_t n = edge - 2; n < edge; ++n) cuts.push_back(n);
    for (std::size_t n : cuts) {
        SCOPED_TRACE(n);
        WriteFile(dir / "p.pkg", good.substr(0, n));
        EXPECT_EQ(EXIT_FAULT, Check(VerifyPackage, dir / "p.pkg").code);
        EXPECT_EQ(EXIT_FAULT, Check(ListPackage, dir / "p.pkg").code);
    }
}

struct Ran {
    int code;
    std::string out, err;
};

Ran Tidepack(const TempDir& dir, const std::string& arguments) {
    std::string command =
        std::string(TIDEPACK_PATH) + " " + arguments + " >" + (dir / "out") + " 2>" + (dir / "err");
    int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(dir / "out"),
            ReadFile(dir / "err")};
}

TEST(CommandLine, Conventions) {
    TempDir dir;
    WriteFile(dir / "good.pkg", SamplePackage());
    WriteFile(
        dir / "m.toml",
        "codePage = 1252\ntitle = 't'\nversionText = '1'\nregistryKey = 'HKEY_CURRENT_USER\\X'\n"
        "valueName = ''\ndefaultFolder = 'C:\\X'\n[[file]]\nsource = 'new/a.txt'\n");
    WriteFile(dir / "new/a.txt", "a");
    WriteFile(dir / "again.toml", "an older manifest");
    std::filesystem::create_directories(dir / "old");
    std::filesystem::create_symlink(dir / "good.pkg", dir / "link.pkg");
    std::filesystem::create_hard_link(dir / "new/a.txt", dir / "hard.txt");
    const std::string m = dir / "m.toml";
    struct Row {
        std::string arguments;
        int code;
        const char* out;  // part of stdout
        std::string err;  // part of stderr ("" for none at all)
    } rows[] = {
        {"--help", 0, "usage: tidepack COMMAND", ""},
        {"list --help", 0, "usage: tidepack list [--install-dir DIR]", ""},
        {"--version", 0, "tidepack 1.", ""},
        {"", EXIT_USAGE, "", "no command given"},
        {"pack x", EXIT_USAGE, "", "unknown command 'pack'"},
        {"list", EXIT_USAGE, "", "list needs exactly one package or program"},
        {"list --frob " + (dir / "good.pkg"), EXIT_USAGE, "", "unknown option '--frob' for list"},
        {"list --codepage abc " + (dir / "good.pkg"), EXIT_USAGE, "",
         "--codepage needs a Windows ANSI code page"},
        {"list --codepage 77777 " + (dir / "good.pkg"), EXIT_USAGE, "",
         "--codepage needs a Windows ANSI code page"},
        {"verify --codepage=12345 " + (dir / "good.pkg"), EXIT_USAGE, "",
         "--codepage needs a Windows ANSI code page"},
        {"verify --codepage 1047 " + (dir / "good.pkg"), EXIT_USAGE, "",  // EBCDIC, known to iconv
         "--codepage needs a Windows ANSI code page"},
        {"verify /dev/zero", EXIT_FAULT, "", "/dev/zero: not a regular file"},
        {"list " + dir.path, EXIT_FAULT, "", ": a folder, not a file"},
        {"build " + m + " -o /dev/null", EXIT_USAGE, "", "/dev/null: is a device, fifo or socket"},
        {"build " + m + " -o " + (dir / "link.pkg"), EXIT_USAGE, "",
         "link.pkg: is a symbolic link"},
        {"build " + m + " -o " + m, EXIT_USAGE, "", "is the same file as the input"},
        {"build " + m + " -o " + (dir / "hard.txt"), EXIT_USAGE, "",
         "is the same file as the input " + (dir / "new/a.txt")},
        {"diff " + (dir / "old") + " " + (dir / "new") + " -o " + (dir / "hard.txt"), EXIT_USAGE,
         "", "is the same file as the input"},
        {"list --install-dir", EXIT_USAGE, "", "--install-dir needs a value"},
        {"build m.toml", EXIT_USAGE, "", "build needs -o PACKAGE"},
        {"build --zopfli", EXIT_USAGE, "", "build needs exactly one manifest"},
        {"diff onlyone", EXIT_USAGE, "", "diff needs OLD_DIR and NEW_DIR"},
        {"program m.toml", EXIT_USAGE, "", "program needs -o Patch.exe"},
        {"program m.toml -o P.exe --stub", EXIT_USAGE, "", "--stub needs a value"},
        {"program m.toml -o P.exe --stub missing.exe", EXIT_USAGE, "",
         "--stub missing.exe: no such program"},
        {"build --threads 0 m.toml -o x", EXIT_USAGE, "",
         "--threads needs a number from 1 to 1024"},
        {"list --install-dir=D:\\\\X " + (dir / "good.pkg"), 0, "target   D:\\X\\tool.exe", ""},
        {"verify " + (dir / "good.pkg"), 0, ": ok: 3 entries, 1 shortcut move,", ""},
        {"verify " + m, EXIT_FAULT, "",
         "a manifest, not a package: 'tidepack build MANIFEST -o PACKAGE' makes the package"},
        {"diff " + (dir / "old") + " " + (dir / "new") + " -o " + m, EXIT_FAULT, "",
         "m.toml already exists; nothing written (--force replaces it"},
        {"diff " + (dir / "old") + " " + (dir / "new") + " -o " + (dir / "again.toml") + " --force",
         0, "again.toml: 1 file new or changed, 0 unchanged", ""},
        {"verify " + (dir / "missing.pkg"), EXIT_FAULT, "", "missing.pkg: No such file"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.arguments);
        Ran run = Tidepack(dir, row.arguments);
        EXPECT_EQ(row.code, run.code);
        EXPECT_NE(std::string::npos, run.out.find(row.out)) << run.out;
        if (row.err.empty())
            EXPECT_EQ("", run.err);
        else
            EXPECT_NE(std::string::npos, run.err.find(row.err)) << run.err;
    }
    EXPECT_EQ("a", ReadFile(dir / "new/a.txt"));
    EXPECT_NE(std::string::npos, ReadFile(m).find("versionText = '1'"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.pkg"));
}

// -o names, through a hard link of another name, one file the run reads: each is refused before
// anything is built or signed, and stays as it was.
TEST(CommandLine, OutputNeverReplacesAnInput) {
    TempDir dir;
    WriteFile(dir / "m.toml",
              "codePage = 1252\ntitle = 't'\nversionText = '1'\nregistryKey = "
              "'HKEY_CURRENT_USER\\X'\nvalueName = ''\ndefaultFolder = 'C:\\X'\n[program]\n"
              "icon = 'art/p.ico'\n[[file]]\nsource = 'new/a.txt'\n");
    const char* const files[] = {"new/a.txt", "art/p.ico", "good.pkg",  "stub.exe",
                                 "key.p12",   "password",  "module.so", "chain.pem",
                                 "pin",       "sign.sh",   "sign.bat"};
    for (const char* file : files) WriteFile(dir / file, std::string("input ") + file);
    WriteFile(dir / "good.pkg", SamplePackage());
    WriteFile(dir / "art/p.ico", Icon(16));
    const std::string m = dir / "m.toml", stub = " --stub " + (dir / "stub.exe");
    const std::string pkg = "program " + (dir / "good.pkg") + stub;
    const std::string token = " --sign-pkcs11 " + (dir / "module.so") +
                              " --key pkcs11:token=t --cert " + (dir / "chain.pem") +
                              " --pin-file " + (dir / "pin");
    struct Row {
        std::string arguments;            // -o follows
        std::vector<const char*> inputs;  // what -o is a hard link of, each in turn
    } rows[] = {
        {"program " + m + stub, {"m.toml", "new/a.txt", "art/p.ico"}},
        {pkg, {"good.pkg", "stub.exe"}},
        {pkg + " --sign " + (dir / "key.p12") + " --password-file " + (dir / "password"),
         {"key.p12", "password"}},
        {pkg + token, {"module.so", "chain.pem", "pin"}},
        {pkg + " --sign-command '" + (dir / "sign.sh") + " %1'", {"sign.sh"}},
        {pkg + " --sign-command '/bin/sh \"" + (dir / "sign.bat") + "\" \"%1\"'", {"sign.bat"}},
    };
    for (const Row& row : rows)
        for (const char* input : row.inputs) {
            SCOPED_TRACE(input);
            std::string link = dir / "out.exe";
            std::filesystem::remove(link);
            std::filesystem::create_hard_link(dir / input, link);
            std::string before = ReadFile(link);
            Ran run = Tidepack(dir, row.arguments + " -o " + link);
            EXPECT_EQ(EXIT_USAGE, run.code);
            EXPECT_NE(std::string::npos, run.err.find("is the same file as the input")) << run.err;
            EXPECT_NE(std::string::npos, run.err.find("nothing written")) << run.err;
            EXPECT_EQ(before, ReadFile(dir / input));
        }
}

// What a vendor sees for the mistakes a first trial made: each input, the line that says what
// to do. osslsigncode is a fake that fails printing the row's `says`.
TEST(CommandLine, MessagesSayWhatToDo) {
    TempDir dir;
    auto manifest = [&](const std::string& name, const std::string& file, int folder = 1) {
        WriteFile(dir / name,
                  "codePage = 1252\ntitle = 't'\nversionText = '1'\nregistryKey = "
                  "'HKEY_CURRENT_USER\\X'\n"
                  "valueName = ''\ndefaultFolder = 'C:\\" +
                      std::string(folder, 'd') + "'\n[[file]]\n" + file);
        return dir / name;
    };
    WriteFile(dir / "good.pkg", SamplePackage());
    WriteFile(dir / "new/sub/a.txt", "a");
    WriteFile(dir / "old/keep.txt", "k");
    WriteFile(dir / "odd/caf\xE9.txt", "a Latin-1 name");
    WriteFile(dir / "sjis.toml", "codePage = 932\ntitle = '\x8C\x76\x8E\x5A'\n");
    WriteFile(dir / "utf16.toml", std::string("\xFF\xFE"
                                              "c\0o\0",
                                              6));
    std::filesystem::create_symlink("/etc/passwd", dir / "new/passwd-link");
    std::filesystem::create_directories(dir / "linked");
    std::filesystem::create_symlink(dir / "new/sub/a.txt", dir / "linked/a-link.txt");
    std::filesystem::create_directories(dir / "folder-linked");
    std::filesystem::create_symlink(dir / "new/sub", dir / "folder-linked/docs");
    // An icon of one 16-bit-per-channel RGBA PNG image (its header is all that is read).
    std::string png = std::string("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR\0\0\1\0\0\0\1\0\x10\x06", 26) +
                      std::string(7, '\0');
    WriteFile(dir / "art/png16.ico", std::string("\0\0\1\0\1\0\0\0\0\0\1\0\x20\0", 14) +
                                         std::string(1, char(png.size())) +
                                         std::string("\0\0\0\x16\0\0\0", 7) + png);
    const std::string a16 = "source = 'new/sub/a.txt'\n[program]\nicon = 'art/png16.ico'\n";
    ASSERT_EQ(
        0, Tidepack(dir, "program " + manifest("p16.toml", a16) + " -o " + (dir / "P16.exe")).code);
    WriteFile(dir / "bin/osslsigncode", "#!/bin/sh\ncat \"$FAKE_SAYS\"\nexit 255\n");
    std::filesystem::permissions(dir / "bin/osslsigncode", std::filesystem::perms::owner_all);
    WriteFile(dir / "k.p12", "p12");
    setenv("PATH", (dir.path + "/bin:" + std::getenv("PATH")).c_str(), 1);
    setenv("FAKE_SAYS", (dir / "says").c_str(), 1);
    const std::string a = "source = 'new/sub/a.txt'\n", old = "diff " + (dir / "old") + " ";
    const std::string sign = "program " + manifest("s.toml", a) + " -o " + (dir / "P.exe") +
                             " --stub " + TIDEPACK_FIXTURES + "/patch_i686.exe --sign " +
                             (dir / "k.p12") + " --password-file " + (dir / "k.p12");
    struct Row {
        std::string arguments, says;
        int code;
        std::string out, err;  // parts of stdout and stderr
    } rows[] = {
        {"list --install-dir " + std::string(300, 'D') + " " + (dir / "good.pkg"), "", 0,
         "install folder unknown: --install-dir is 300 bytes in code page 932; at most 259 fit",
         ""},
        {"bulid m.toml -o x", "", EXIT_USAGE, "", "unknown command 'bulid'; did you mean 'build'?"},
        {"build " + (dir / "sjis.toml") + " -o x", "", EXIT_FAULT, "",
         "sjis.toml:2:10: the manifest is not UTF-8; it looks like Shift-JIS (code page 932)"},
        {"build " + (dir / "utf16.toml") + " -o x", "", EXIT_FAULT, "",
         "1:1: the manifest is not "
         "UTF-8; it looks like UTF-16: save it as UTF-8"},
        {"build " + manifest("w.toml", "source = 'new\\sub\\a.txt'\n") + " -o " + (dir / "w"), "",
         0, "1 file (1 bytes)", ""},
        {"build " +
             manifest("l.toml", a + "folder = '<InstallDir>\\" + std::string(60, 'f') + "'\n",
                      200) +
             " -o x",
         "", EXIT_FAULT, "", "would be 270 bytes in code page 1252; at most 259 fit"},
        {"build " + manifest("p.toml", "source = 'new/passwd-link'\n") + " -o x", "", EXIT_FAULT,
         "",
         "source 'new/passwd-link' is a symbolic link leading out of the manifest's folder, "
         "to '/etc/passwd'; set followLinks = true for this file"},
        {old + (dir / "new") + " -o " + (dir / "new/m.toml"), "", EXIT_USAGE, "",
         "m.toml: is inside the release folder"},
        {old + (dir / "odd"), "", EXIT_FAULT,
         "# Left out: names that are not UTF-8 (rename them, "
         "or add them by hand):\n#   caf",
         "the name is not UTF-8; left out"},
        {old + (dir / "linked"), "", 0, "# a symbolic link to " + (dir / "new/sub/a.txt"),
         "a-link.txt is a symbolic link to"},
        {sign,
         "40:error:05800074:x509 certificate routines:X509_check_private_key:key values "
         "mismatch:../crypto/x509/x509_cmp.c:403:\nFailed\n",
         EXIT_FAULT, "",
         "the key and the certificate in " + (dir / "k.p12") + " do not belong together"},
        {"program " + manifest("t.toml", a) + " -o " + (dir / "T.exe") +
             " --sign-pkcs11 /nonexistent/pkcs11.so --key pkcs11:token=t --cert " +
             (dir / "k.p12") + " --pin-file " + (dir / "k.p12"),
         "", EXIT_FAULT, "", "--sign-pkcs11 /nonexistent/pkcs11.so: No such file or directory"},
        {old + (dir / "folder-linked"), "", 0, "#   docs -> " + (dir / "new/sub"),
         "docs is a symbolic link to the folder " + (dir / "new/sub")},
        {"build " + manifest("n.toml", a + "[program]\nwelcome = 'Hello\\n%s'\n") + " -o " +
             (dir / "n.pkg"),
         "", 0, "", "n.toml:10:11: warning: program: welcome holds '\\n' in single quotes"},
        {"list " + (dir / "P16.exe"), "", 0, "icon: 1 image: 256x256 64-bit", ""},
        {sign + " --timestamp http://ts.example",
         "40:error:1E800069:HTTP routines:parse_http_"
         "line1:received error:../crypto/http/http_client.c:490:code=500, reason=Internal Server "
         "Error\nFailed\n",
         EXIT_FAULT, "", "server http://ts.example refused the request (HTTP 500)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.arguments);
        WriteFile(dir / "says", row.says);
        Ran run = Tidepack(dir, row.arguments);
        EXPECT_EQ(row.code, run.code) << run.err;
        EXPECT_NE(std::string::npos, run.out.find(row.out)) << run.out;
        EXPECT_NE(std::string::npos, run.err.find(row.err)) << run.err;
    }
    // A certificate out of its period (2026): at its timestamp's time, or without one now.
    SignatureCheck check;
    check.subject = "CN=V";
    check.validFrom = 1767225600;
    check.validUntil = 1798761599;
    EXPECT_EQ("", ValidityFault(check, 1767225600));
    EXPECT_EQ(
        "the signer's certificate CN=V expired on 2026-12-31 23:59 UTC, before now (the "
        "signature has no timestamp)",
        ValidityFault(check, 1798761600));
    check.timestamped = true;
    check.timestampTime = 1767225599;
    EXPECT_EQ(
        "the signer's certificate CN=V is not valid until 2026-01-01 00:00 UTC, after the "
        "timestamp's 2025-12-31 23:59 UTC",
        ValidityFault(check, 1767225600));
    check.timestampTime = 1767225600;
    EXPECT_EQ("", ValidityFault(check, 1798761600));
}

}  // namespace
