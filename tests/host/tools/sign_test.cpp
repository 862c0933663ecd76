// Signing a real mingw program with a throwaway certificate through osslsigncode, and the
// signature's check after one byte of the package changes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "package_file.h"
#include "sign.h"
#include "test_support.h"
#include "tidepack.h"

namespace {

bool Runs(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

TEST(Sign, SignedProgramHoldsUntilItsPackageChanges) {
    std::string fixture = std::string(TIDEPACK_FIXTURES) + "/patch_i686.exe";
    if (!std::filesystem::exists(fixture)) GTEST_SKIP() << "no mingw toolchain to link a program";
    if (!Runs("osslsigncode --version") || !Runs("openssl version"))
        GTEST_SKIP() << "osslsigncode or openssl is not installed";
    TempDir dir;
    WriteFile(dir / "password", "pa ss\n");
    ASSERT_TRUE(Runs("cd " + dir.path +
                     " && openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout key.pem"
                     " -out cert.pem -subj '/CN=Tidewell Test Signer'"
                     " && openssl pkcs12 -export -inkey key.pem -in cert.pem -out key.p12"
                     " -passout file:password"));

    // A gap after the first section's raw data, as the linked update program has after .rsrc:
    // the digest covers it as osslsigncode does, or no signature of that program would hold.
    std::string bytes = ReadFile(fixture);
    auto get32 = [&bytes](std::size_t at) {
        std::uint32_t value = 0;
        for (int k = 0; k < 4; ++k)
            value |= std::uint32_t{static_cast<unsigned char>(bytes[at + k])} << 8 * k;
        return value;
    };
    std::size_t optional = get32(0x3C) + 24;
    std::size_t rawSize = optional + (get32(optional - 4) & 0xFFFF) + 16;  // the first section's
    std::uint32_t shorter = get32(rawSize) - 16;
    ASSERT_LT(shorter, 1u << 24);
    for (int k = 0; k < 4; ++k) bytes[rawSize + k] = static_cast<char>(shorter >> 8 * k);
    const std::vector<unsigned char> unsignedProgram(bytes.begin(), bytes.end());

    // The right password through the environment, which reaches osslsigncode by a pipe.
    setenv("TIDEPACK_TEST_PASSWORD", "pa ss", 1);
    SignOptions options;
    options.pkcs12 = dir / "key.p12";
    options.passwordEnv = "TIDEPACK_TEST_PASSWORD";
    std::string error;
    Output signing = Capture([&](std::FILE*, std::FILE* err) {
        return SignProgram(unsignedProgram, dir / "Patch.exe", options, err, &error);
    });
    ASSERT_EQ(0, signing.code) << error << signing.err;

    // verify exits 1 for the fixture's own package faults, so list's exit status tells.
    ListOptions program;
    program.path = dir / "Patch.exe";
    auto verify = [&] {
        return Capture(
            [&](std::FILE* out, std::FILE* err) { return VerifyPackage(program, out, err); });
    };
    auto list = [&] {
        return Capture(
            [&](std::FILE* out, std::FILE* err) { return ListPackage(program, out, err); });
    };
    Output good = verify();
    EXPECT_NE(std::string::npos, good.out.find("signature holds: signer CN=Tidewell Test Signer"))
        << good.out;
    EXPECT_NE(std::string::npos, good.out.find("self-signed certificate")) << good.out;
    EXPECT_EQ(0, list().code);

    PackageFile file;
    ASSERT_EQ(1, LoadPackageFile(program.path, &file, &error)) << error;
    bytes = ReadFile(program.path);
    bytes[file.image.data - file.bytes.data() + file.image.size / 2] ^= 1;
    WriteFile(program.path, bytes);
    Output changed = verify();
    EXPECT_NE(std::string::npos, changed.err.find("signature BROKEN: changed after signing"))
        << changed.err;
    Output listed = list();
    EXPECT_EQ(EXIT_FAULT, listed.code);
    EXPECT_NE(std::string::npos, listed.out.find("signature      BROKEN")) << listed.out;

    // A certificate table whose entry claims more than the table holds is reported, not read.
    std::uint32_t table = get32(optional + 96 + 4 * 8);  // PE32's security entry
    bytes[table + 3] = '\x7F';                           // WIN_CERTIFICATE's dwLength
    SignatureCheck damaged =
        CheckSignature(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    EXPECT_EQ(SignatureState::Broken, damaged.state);
    EXPECT_NE(std::string::npos, damaged.reason.find("does not fit")) << damaged.reason;

    // A wrong password: a clear reason and no file left behind.
    WriteFile(dir / "wrong", "not it\n");
    options.passwordEnv.clear();
    options.passwordFile = dir / "wrong";
    Output refused = Capture([&](std::FILE*, std::FILE* err) {
        return SignProgram(unsignedProgram, dir / "Refused.exe", options, err, &error);
    });
    EXPECT_EQ(EXIT_FAULT, refused.code);
    EXPECT_NE(std::string::npos, error.find("wrong password")) << error;
    for (const auto& left : std::filesystem::directory_iterator(dir.path))
        EXPECT_EQ(std::string::npos, left.path().filename().string().find("Refused"))
            << left.path();
}

}  // namespace
