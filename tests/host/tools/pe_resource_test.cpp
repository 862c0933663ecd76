// SPDX-License-Identifier: MIT
// Finding RCDATA 1 in PE32 and PE32+ programs: hand-made images with their damage, and real
// programs linked by the mingw toolchains when they are there.
#include <gtest/gtest.h>

#include <cstring>

#include "authoring/package_file.h"
#include "program/pe_resource.h"
#include "test_support.h"
#include "commands/tidepack.h"

namespace {

TEST(PeResource, FindsRcdataInBothFormats) {
    for (bool plus : {false, true}) {
        SCOPED_TRACE(plus ? "PE32+" : "PE32");
        std::string image = MakePe(plus, 1033, "the package");
        PeResource found;
        std::string error;
        ASSERT_EQ(1, FindPeResource(reinterpret_cast<const unsigned char*>(image.data()),
                                    image.size(), 10, 1, 1033, &found, &error))
            << error;
        EXPECT_EQ("the package", image.substr(found.offset, found.size));
        EXPECT_EQ(1033u, found.language);
    }
}

TEST(PeResource, DamagedOrMissingGivesAReason) {
    struct Row {
        const char* name;
        std::function<void(std::string&, bool)> damage;
        const char* error;  // null: still found
    } rows[] = {
        {"other language only", [](std::string& p, bool) { Put32(&p, RAW + 0x38 + 16, 1041); },
         nullptr},
        {"no RCDATA", [](std::string& p, bool) { Put32(&p, RAW + 24, 3); },
         "no resource of type 10 with id 1"},
        {"id 2", [](std::string& p, bool) { Put32(&p, RAW + 0x20 + 16, 2); },
         "no resource of type 10 with id 1"},
        {"type is no directory", [](std::string& p, bool) { Put32(&p, RAW + 28, 0x20); },
         "no resource of type 10"},
        {"no language entry", [](std::string& p, bool) { Put16(&p, RAW + 0x38 + 14, 0); },
         "has no language entry"},
        {"too few directories",
         [](std::string& p, bool plus) { Put32(&p, Directories(plus) - 4, 2); },
         "no resource directory"},
        {"directory in no section",
         [](std::string& p, bool plus) { Put32(&p, Directories(plus) + 16, 0x9000); },
         "resource directory outside the file's sections"},
        {"data past the raw bytes",
         [](std::string& p, bool plus) { Put32(&p, Section(plus) + 16, 0x72); },
         "resource data lies outside the file"},
        {"data size huge", [](std::string& p, bool) { Put32(&p, RAW + 0x54, 0xFFFFFFF0u); },
         "resource data lies outside the file"},
        {"entry count runs off",
         [](std::string& p, bool) {
             Put16(&p, RAW + 14, 0xFFFF);
             Put32(&p, RAW + 24, 3);
         },
         "no resource of type 10"},
        {"file cut in the directory", [](std::string& p, bool) { p.resize(RAW + 0x40); },
         "resource"},
        {"unknown magic", [](std::string& p, bool) { Put16(&p, OPTIONAL, 0x107); },
         "unknown optional header magic"},
        {"no PE signature", [](std::string& p, bool) { p[0x41] = 'X'; }, "not a PE image"},
        {"e_lfanew past the end", [](std::string& p, bool) { Put32(&p, 0x3C, 0xFFFFFFF0u); },
         "not a PE image"},
    };
    for (bool plus : {false, true}) {
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(row.name) + (plus ? " PE32+" : " PE32"));
            std::string image = MakePe(plus, 1033, "payload");
            row.damage(image, plus);
            PeResource found;
            std::string error;
            int ok = FindPeResource(reinterpret_cast<const unsigned char*>(image.data()),
                                    image.size(), 10, 1, 1033, &found, &error);
            if (!row.error) {
                ASSERT_EQ(1, ok) << error;
                EXPECT_EQ("payload", image.substr(found.offset, found.size));
            } else {
                EXPECT_EQ(0, ok);
                EXPECT_NE(std::string::npos, error.find(row.error)) << error;
            }
        }
    }
}

TEST(PeResource, ListAndVerifyReadThePackageInsideAProgram) {
    TempDir dir;
    // A package of the project's own making, built from a one-file manifest.
    WriteFile(dir / "tool.exe", "tool");
    WriteFile(dir / "m.toml",
              "codePage = 1252\ntitle = 'Example'\nversionText = '3.0'\n"
              "registryKey = 'HKEY_CURRENT_USER\\Software\\Example'\nvalueName = ''\n"
              "defaultFolder = 'C:\\Example'\n[[file]]\nsource = 'tool.exe'\n");
    BuildOptions build;
    build.manifest = dir / "m.toml";
    build.output = dir / "p.pkg";
    ASSERT_EQ(0, Capture([&](std::FILE* o, std::FILE* e) {
                     return BuildFromManifest(build, o, e);
                 }).code);
    WriteFile(dir / "Patch.exe", MakePe(false, 1033, ReadFile(dir / "p.pkg")) + "trailing overlay");
    ListOptions options;
    options.path = dir / "Patch.exe";
    options.codePage = 1252;
    Output verified =
        Capture([&](std::FILE* o, std::FILE* e) { return VerifyPackage(options, o, e); });
    EXPECT_EQ(0, verified.code) << verified.err;
    EXPECT_NE(std::string::npos, verified.out.find("in RCDATA 1, language 1033"));
    Output listed = Capture([&](std::FILE* o, std::FILE* e) { return ListPackage(options, o, e); });
    EXPECT_EQ(0, listed.code) << listed.err;
    EXPECT_NE(std::string::npos, listed.out.find("target   C:\\Example\\tool.exe"));

    WriteFile(dir / "Empty.exe", MakePe(true, 1033, "").substr(0, RAW + 0x30));
    options.path = dir / "Empty.exe";
    Output empty = Capture([&](std::FILE* o, std::FILE* e) { return ListPackage(options, o, e); });
    EXPECT_EQ(EXIT_FAULT, empty.code);
    EXPECT_NE(std::string::npos, empty.err.find("a program without a package")) << empty.err;
}

TEST(PeResource, RealProgramsFromTheMingwToolchains) {
    std::string package = ReadFile(std::string(TIDEPACK_FIXTURES) + "/independent.pkg");
    int seen = 0;
    for (const char* arch : {"i686", "x86_64"}) {
        SCOPED_TRACE(arch);
        std::string path = std::string(TIDEPACK_FIXTURES) + "/patch_" + arch + ".exe";
        PackageFile file;
        std::string error;
        if (!std::filesystem::exists(path)) continue;
        ++seen;
        ASSERT_EQ(1, LoadPackageFile(path, &file, &error)) << error;
        EXPECT_EQ(package, std::string(file.image.data, file.image.data + file.image.size));
        EXPECT_EQ("RCDATA 1, language 1033", file.origin.substr(0, 23));
    }
    if (seen == 0) GTEST_SKIP() << "no mingw toolchain here to link a real program";
}

}  // namespace
