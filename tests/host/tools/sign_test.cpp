// SPDX-License-Identifier: MIT
// Signing a real mingw program with a throwaway certificate through osslsigncode, directly and
// through a signing command, and the signatures' check after one byte changes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

#include "authoring/package_file.h"
#include "signing/sign.h"
#include "test_support.h"
#include "commands/command_line.h"
#include "commands/tidepack.h"
#include "system/process.h"

namespace {

bool Runs(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

Output Verify(const ListOptions& program) {
    return Capture(
        [&](std::FILE* out, std::FILE* err) { return VerifyPackage(program, out, err); });
}

Output List(const ListOptions& program) {
    return Capture([&](std::FILE* out, std::FILE* err) { return ListPackage(program, out, err); });
}

std::uint32_t Get32(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int k = 0; k < 4; ++k)
        value |= std::uint32_t{static_cast<unsigned char>(bytes[at + k])} << 8 * k;
    return value;
}

// A throwaway certificate and key (key.p12, password "pa ss" in the file password) and the
// linked test program, with a gap after the first section's raw data as the update program
// has after .rsrc: the digest covers it as osslsigncode does, or no signature would hold.
struct Signing {
    TempDir dir;
    std::string bytes;
    std::vector<unsigned char> program;
    std::string skip;  // why the tests cannot run here
    Signing() {
        std::string fixture = std::string(TIDEPACK_FIXTURES) + "/patch_i686.exe";
        if (!std::filesystem::exists(fixture)) skip = "no mingw toolchain to link a program";
        if (!Runs("osslsigncode --version") || !Runs("openssl version"))
            skip = "osslsigncode or openssl is not installed";
        if (!skip.empty()) return;
        WriteFile(dir / "password", "pa ss\n");
        if (!Runs("cd " + dir.path +
                  " && openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout key.pem"
                  " -out cert.pem -subj '/CN=Tidewell Test Signer'"
                  " && openssl pkcs12 -export -inkey key.pem -in cert.pem -out key.p12"
                  " -passout file:password"))
            skip = "openssl could not make a certificate";
        bytes = ReadFile(fixture);
        std::size_t optional = Get32(bytes, 0x3C) + 24;
        std::size_t rawSize = optional + (Get32(bytes, optional - 4) & 0xFFFF) + 16;
        std::uint32_t shorter = Get32(bytes, rawSize) - 16;
        EXPECT_LT(shorter, 1u << 24);
        for (int k = 0; k < 4; ++k) bytes[rawSize + k] = static_cast<char>(shorter >> 8 * k);
        program.assign(bytes.begin(), bytes.end());
    }

    // Signs the program into `name` in the folder; the fault, if any, in `error`.
    Output Sign(const SignOptions& options, const std::string& name, std::string* error) {
        std::string signer;
        return Capture([&](std::FILE*, std::FILE* err) {
            return SignProgram(program, dir / name, options, err, &signer, error) ? 0 : EXIT_FAULT;
        });
    }
};

TEST(Sign, SignedProgramHoldsUntilItsPackageChanges) {
    Signing setup;
    if (!setup.skip.empty()) GTEST_SKIP() << setup.skip;
    TempDir& dir = setup.dir;
    std::string& bytes = setup.bytes;
    auto get32 = [&bytes](std::size_t at) { return Get32(bytes, at); };
    std::size_t optional = get32(0x3C) + 24;

    // The right password through the environment, which reaches osslsigncode by a pipe.
    setenv("TIDEPACK_TEST_PASSWORD", "pa ss", 1);
    SignOptions options;
    options.pkcs12 = dir / "key.p12";
    options.passwordEnv = "TIDEPACK_TEST_PASSWORD";
    std::string error;
    Output signing = setup.Sign(options, "Patch.exe", &error);
    ASSERT_EQ(0, signing.code) << error << signing.err;

    // verify exits 1 for the fixture's own package faults, so list's exit status tells.
    ListOptions program;
    program.path = dir / "Patch.exe";
    Output good = Verify(program);
    EXPECT_NE(std::string::npos, good.out.find("signature holds: signer CN=Tidewell Test Signer"))
        << good.out;
    EXPECT_NE(std::string::npos, good.out.find("self-signed certificate")) << good.out;
    EXPECT_NE(std::string::npos, good.out.find(" UTC to 20")) << good.out;
    EXPECT_EQ(0, List(program).code);
    program.requireSignature = true;
    EXPECT_EQ(std::string::npos, Verify(program).err.find("--require-signature"));
    program.requireSignature = false;

    PackageFile file;
    ASSERT_EQ(1, LoadPackageFile(program.path, &file, &error)) << error;
    bytes = ReadFile(program.path);
    bytes[file.image.data - file.bytes.data() + file.image.size / 2] ^= 1;
    WriteFile(program.path, bytes);
    Output changed = Verify(program);
    EXPECT_NE(std::string::npos, changed.err.find("signature BROKEN: changed after signing"))
        << changed.err;
    Output listed = List(program);
    EXPECT_EQ(EXIT_FAULT, listed.code);
    EXPECT_NE(std::string::npos, listed.out.find("signature      BROKEN")) << listed.out;

    // A certificate table whose entry claims more than the table holds is reported, not read.
    std::uint32_t table = get32(optional + 96 + 4 * 8);  // PE32's security entry
    bytes[table + 3] = '\x7F';                           // WIN_CERTIFICATE's dwLength
    SignatureCheck damaged =
        CheckSignature(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    EXPECT_EQ(SignatureState::Broken, damaged.state);
    EXPECT_NE(std::string::npos, damaged.reason.find("does not fit")) << damaged.reason;
}

// A certificate Windows refuses for its dates: not valid at the signature's timestamp, or
// without one now. tidepack refuses to sign with it, writing nothing; a program osslsigncode
// signed with it (and timestamped by its own TSA) fails verify, which says which date.
TEST(Sign, CertificateOutsideItsPeriod) {
    Signing setup;
    if (!setup.skip.empty()) GTEST_SKIP() << setup.skip;
    TempDir& dir = setup.dir;
    WriteFile(dir / "unsigned.exe", setup.bytes);
    WriteFile(dir / "ca.cnf",
              "[ca]\ndefault_ca=d\n[d]\ndatabase=index\nnew_certs_dir=.\nserial=serial\n"
              "default_md=sha256\npolicy=p\n[p]\ncommonName=supplied\n");
    ASSERT_TRUE(
        Runs("cd " + dir.path +
             " && openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj /CN=TSA"
             " -addext extendedKeyUsage=critical,timeStamping -keyout tsa.key -out tsa.pem"));
    struct Row {
        const char* name;
        const char* from;  // the certificate's period, as openssl ca takes it
        const char* until;
        const char* timestamp;  // its time, seconds since 1970; "": none
        const char* want;       // what verify says; "": it holds
    } rows[] = {
        {"expired", "20200101000000Z", "20200102000000Z", "",
         "expired on 2020-01-02 00:00 UTC, before now (the signature has no timestamp)"},
        {"not yet valid", "20990101000000Z", "20990102000000Z", "",
         "is not valid until 2099-01-01 00:00 UTC, after now (the signature has no timestamp)"},
        {"timestamped inside its period", "20200101000000Z", "20200102000000Z", "1577880000", ""},
        {"timestamped after it", "20200101000000Z", "20200102000000Z", "1609459200",
         "expired on 2020-01-02 00:00 UTC, before the timestamp's 2021-01-01 00:00 UTC"},
    };
    int serial = 1;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WriteFile(dir / "index", "");
        WriteFile(dir / "serial", std::to_string(10 + serial++) + "\n");
        ASSERT_TRUE(
            Runs(std::string("cd ") + dir.path +
                 " && openssl req -new -newkey rsa:2048 -nodes -keyout k.pem -subj /CN=Dated"
                 " -out k.csr && openssl ca -config ca.cnf -selfsign -keyfile k.pem -in "
                 "k.csr -batch -notext -out k.crt -startdate " +
                 row.from + " -enddate " + row.until +
                 " && openssl pkcs12 -export -inkey k.pem -in k.crt -out k.p12 -passout "
                 "file:password"));
        std::error_code code;
        std::filesystem::remove(dir / "Signed.exe", code);
        std::string sign = "cd " + dir.path +
                           " && osslsigncode sign -pkcs12 k.p12 -readpass password -h sha256"
                           " -in unsigned.exe -out Signed.exe";
        if (*row.timestamp)
            sign += std::string(" -TSA-certs tsa.pem -TSA-key tsa.key -TSA-time ") + row.timestamp;
        ASSERT_TRUE(Runs(sign));
        ListOptions program;
        program.path = dir / "Signed.exe";
        Output verified = Verify(program);
        if (!*row.want) {
            EXPECT_NE(std::string::npos, verified.out.find("signature holds")) << verified.out;
            continue;
        }
        EXPECT_EQ(EXIT_FAULT, verified.code);
        EXPECT_NE(std::string::npos, verified.err.find("signature BROKEN: the signer's "
                                                       "certificate CN=Dated " +
                                                       std::string(row.want)))
            << verified.err;
        if (*row.timestamp) continue;  // tidepack asks a timestamp of a server only
        SignOptions options;
        options.pkcs12 = dir / "k.p12";
        options.passwordFile = dir / "password";
        std::string error;
        EXPECT_EQ(EXIT_FAULT, setup.Sign(options, "Refused.exe", &error).code);
        EXPECT_NE(std::string::npos, error.find(row.want)) << error;
        EXPECT_FALSE(std::filesystem::exists(dir / "Refused.exe"));
    }
}

// A signing command that nests a second signature in the first is taken, both reported; a
// flipped byte inside the nested one fails verify while the outer one still holds.
TEST(Sign, NestedSignaturesEachReported) {
    Signing setup;
    if (!setup.skip.empty()) GTEST_SKIP() << setup.skip;
    TempDir& dir = setup.dir;
    std::string sign =
        "osslsigncode sign -pkcs12 " + dir / "key.p12" + " -readpass " + dir / "password";
    SignOptions options;
    options.command = sign + " -h sha256 -in %1 -out %1.1 >/dev/null && " + sign +
                      " -nest -h sha512 -in %1.1 -out %1.2 >/dev/null && mv %1.2 %1";
    std::string error;
    Output signing = setup.Sign(options, "Patch.exe", &error);
    ASSERT_EQ(0, signing.code) << error << signing.err;

    ListOptions program;
    program.path = dir / "Patch.exe";
    Output both = Verify(program);
    EXPECT_NE(std::string::npos, both.out.find("nested signature 2 holds: signer CN=Tidewell"))
        << both.out;
    EXPECT_NE(std::string::npos, both.out.find("nested; Authenticode SHA512")) << both.out;

    // The nested signature ends the certificate table's entry, its signature value last.
    std::string bytes = ReadFile(program.path);
    std::size_t optional = Get32(bytes, 0x3C) + 24;
    std::uint32_t table = Get32(bytes, optional + 96 + 4 * 8);
    bytes[table + Get32(bytes, table) - 100] ^= 1;
    WriteFile(program.path, bytes);
    Output flipped = Verify(program);
    EXPECT_NE(std::string::npos, flipped.out.find("Patch.exe: signature holds")) << flipped.out;
    EXPECT_NE(std::string::npos, flipped.err.find("nested signature 2 BROKEN")) << flipped.err;
    Output listed = List(program);
    EXPECT_EQ(EXIT_FAULT, listed.code) << listed.out;
}

// Every signing that goes wrong: one line naming the cause, and nothing at the output path.
TEST(Sign, RefusedSigningLeavesNothing) {
    Signing setup;
    if (!setup.skip.empty()) GTEST_SKIP() << setup.skip;
    TempDir& dir = setup.dir;
    WriteFile(dir / "wrong", "not it\n");
    WriteFile(dir / "empty", "");
    std::string sign = "osslsigncode sign -pkcs12 " + dir / "key.p12" + " -readpass " +
                       dir / "password" + " -h sha256";
    struct Row {
        const char* name;
        std::function<void(SignOptions&)> set;
        const char* want;
    } rows[] = {
        {"key file, no password", [](SignOptions&) {}, "no password given for"},
        {"key file, wrong password", [&](SignOptions& o) { o.passwordFile = dir / "wrong"; },
         "wrong password for"},
        {"timestamp server unreachable",
         [&](SignOptions& o) {
             o.passwordFile = dir / "password";
             o.timestampUrl = "http://127.0.0.1:9/";
         },
         "the timestamp server http://127.0.0.1:9/ could not be reached"},
        {"other: osslsigncode's last line", [&](SignOptions& o) { o.passwordFile = dir / "empty"; },
         "could not sign the program (exit status 255): Failed to read password from file"},
        {"command fails", [](SignOptions& o) { o.command = "echo token gone >&2; exit 3 # %1"; },
         "failed with exit status 3; it printed: \"token gone\""},
        {"command signs another file",
         [&](SignOptions& o) { o.command = "cp %1 %1.x && " + sign + " -in %1.x -out %1.y"; },
         "carries no signature after signing"},
        {"command changes a byte first",
         [&](SignOptions& o) {
             o.command = "printf X | dd of=%1 bs=1 seek=600 conv=notrunc 2>/dev/null && " + sign +
                         " -in %1 -out %1.y && mv %1.y %1";
         },
         "not the one tidepack wrote"},
        {"command runs out of time",
         [](SignOptions& o) {
             o.command = "sleep 20 & sleep 20 # %1";
             o.timeoutSeconds = 1;
         },
         "did not finish within 1 s"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SignOptions options;
        options.pkcs12 = dir / "key.p12";
        row.set(options);
        if (!options.command.empty()) options.pkcs12.clear();
        std::string error;
        Output refused = setup.Sign(options, "Refused.exe", &error);
        EXPECT_EQ(EXIT_FAULT, refused.code);
        EXPECT_NE(std::string::npos, error.find(row.want)) << error;
        EXPECT_EQ(std::string::npos, error.find('\n')) << error;
        for (const auto& left : std::filesystem::directory_iterator(dir.path))
            EXPECT_EQ(std::string::npos, left.path().filename().string().find("Refused"))
                << left.path();
    }
}

// A signing command gets the program's path as one argument wherever its line puts %1: bare,
// in the line's own double quotes (as Windows' signtool lines are written) or, for sh, single
// quotes. sh runs each line here; cmd.exe's lines are compared as written.
TEST(Sign, SigningCommandGetsThePathWhereverTheLineQuotesIt) {
    struct Row {
        const char* line;
        const char* want;  // sh: what printf prints before the path
    };
    const std::string path = "/tmp/a b/it's \"$HOME\" `x` \\ 100%.exe";
    const Row posixRows[] = {
        {"printf %s %1", ""},
        {"printf %s \"%1\"", ""},
        {"printf %s '%1'", ""},
        {"printf %s \\\"\"%1\"", "\""},
    };
    for (const Row& row : posixRows) {
        SCOPED_TRACE(row.line);
        Command command;
        command.arguments = ShellArguments(row.line, path);
        RunResult run = ::Run(command);
        EXPECT_EQ(0, run.status) << run.output;
        EXPECT_EQ(row.want + path, run.output);
    }
    const std::string windowsPath = "C:\\Users\\山田\\a b\\Patch.exe";
    const Row cmdRows[] = {
        {"signtool sign /fd sha256 \"%1\"",
         "signtool sign /fd sha256 \"C:\\Users\\山田\\a b\\Patch.exe\""},
        {"sign.bat %1 100%%", "sign.bat \"C:\\Users\\山田\\a b\\Patch.exe\" 100%"},
        {"\"C:\\sign tool\\sign.exe\" %1",
         "\"C:\\sign tool\\sign.exe\" \"C:\\Users\\山田\\a b\\Patch.exe\""},
        {"echo ^\"%1", "echo ^\"\"C:\\Users\\山田\\a b\\Patch.exe\""},
    };
    for (const Row& row : cmdRows) {
        SCOPED_TRACE(row.line);
        EXPECT_EQ(row.want, ShellLine(Shell::Cmd, row.line, windowsPath));
    }
}

}  // namespace
