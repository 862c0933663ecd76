// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/text.h"
#include "fakes/version_fake.h"
#include "host/tools/test_support.h"
#include "rules/version.h"
#include "rules/version_image.h"

namespace {

TEST(VersionNumber, KeepsOnlyTheDigitsInOrder) {
    const struct {
        const char* text;
        std::uint32_t number;
    } rows[] = {
        {"2, 4, 0, 7", 2407u},
        {"2.4.0.7", 2407u},
        {"1.10", 110u},
        {"11.0", 110u},
        {"1.05", 105u},
        {"3.1.0.12", 31012u},
        {"beta", 0u},
        {"", 0u},
        {"version 2 build 15", 215u},
        {"-1", 1u},
        {"\x82\x51.\x82\x50", 0u},  // full-width digits are not digits
        {"\xB9"
         "9",
         9u},  // neither is a byte of 0x80 and above
        {"4294967295", 4294967295u},
        {"4294967296", 0u},
        {"4294967297", 1u},
        {"7.12.3456.78901", 3676075061u},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(row.number, VersionNumber(row.text));
    }
}

class VersionTest : public ::testing::Test {
protected:
    void SetUp() override { FakeVersionReset(); }
    void TearDown() override { EXPECT_EQ(0, FakeVersionLiveBlocks()) << "block not freed"; }
};

TEST_F(VersionTest, IsNewerOrSameComparesTheNumbers) {
    const struct {
        const char* newText;  // null: no version resource
        const char* installedText;
        int result;
    } rows[] = {
        {"2, 4, 0, 7", "2, 4, 0, 6", 1},
        {"2.4.0.7", "2, 4, 0, 7", 1},
        {"2.4.0.6", "2.4.0.7", 0},
        {"1.10", "1.9", 1},
        {"1.10", "2.0", 1},
        {"3.2.0.0", "3.1.0.12", 0},
        {"1.05", "1.5", 1},
        {"beta", "1.0", 0},
        {"beta", "0.0", 1},
        {"7.12.3456.78901", "1.0", 1},
        {"4294967296", "1", 0},
        {nullptr, "9.9", 1},
        {"1.0", nullptr, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.newText ? row.newText : "none") + " against " +
                     (row.installedText ? row.installedText : "none"));
        FakeVersionReset();
        if (row.newText) FakeVersionSetProductVersion("new.tmp", row.newText);
        if (row.installedText) FakeVersionSetProductVersion("C:\\App\\a.dll", row.installedText);
        EXPECT_EQ(row.result, IsNewerOrSame("new.tmp", "C:\\App\\a.dll"));
        // The same answer with what was read, for the log.
        char versions[160];
        EXPECT_EQ(row.result, IsNewerOrSameWithVersions("new.tmp", "C:\\App\\a.dll", versions,
                                                        sizeof versions));
        EXPECT_EQ(std::string("packaged ") + (row.newText ? row.newText : "none") + ", installed " +
                      (row.newText && row.installedText ? row.installedText : "none"),
                  versions);
    }
}

TEST_F(VersionTest, InstalledFileIsNotExaminedWhenTheNewOneHasNoVersion) {
    FakeVersionSetProductVersion("C:\\App\\a.dll", "9.9");
    EXPECT_EQ(1, IsNewerOrSame("new.tmp", "C:\\App\\a.dll"));
    ASSERT_EQ(1u, FakeVersionSizeCalls().size());
    EXPECT_EQ("new.tmp", FakeVersionSizeCalls()[0]);
}

TEST_F(VersionTest, QueriesProductVersionUnderTheFirstPair) {
    const struct {
        std::uint32_t pair;
        const char* query;
    } rows[] = {
        {0x04B00411, "\\StringFileInfo\\041104B0\\ProductVersion"},
        {0x04E4040C, "\\StringFileInfo\\040C04E4\\ProductVersion"},
        {0x00000000, "\\StringFileInfo\\00000000\\ProductVersion"},
        {0xFFFF0001, "\\StringFileInfo\\0001FFFF\\ProductVersion"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.query);
        FakeVersionReset();
        FakeVersionFile file;
        file.translations = {row.pair};
        file.texts[row.query] = std::string("5.6.7") + '\0';
        FakeVersionSetFile("a.dll", file);
        char text[VERSION_TEXT_SIZE];
        EXPECT_EQ(1, ReadProductVersion("a.dll", text));
        EXPECT_STREQ("5.6.7", text);
        ASSERT_EQ(2u, FakeVersionQueries().size());
        EXPECT_EQ("\\VarFileInfo\\Translation", FakeVersionQueries()[0]);
        EXPECT_EQ(row.query, FakeVersionQueries()[1]);
    }
}

FakeVersionFile FileWith(const std::string& productVersion) {
    FakeVersionFile file;
    file.texts["\\StringFileInfo\\040904B0\\ProductVersion"] = productVersion;
    return file;
}

struct ReadRow {
    const char* name;
    bool exists;
    FakeVersionFile file;
    int result;
    std::string text;
    bool allocationFails = false;
};

TEST_F(VersionTest, ReadsTheWholeTextOrCountsTheFileAsHavingNone) {
    const std::string one = std::string("1.0") + '\0';
    const std::string longest = "1" + std::string(62, '.');
    FakeVersionFile secondPairOnly = FileWith(one);
    secondPairOnly.translations = {0x04B00411, 0x04B00409};
    FakeVersionFile emptyList = FileWith(one);
    emptyList.translations.clear();
    FakeVersionFile noList = FileWith(one);
    noList.hasTranslationList = false;
    FakeVersionFile unreadable = FileWith(one);
    unreadable.readFails = true;

    const ReadRow rows[] = {
        {"version", true, FileWith(one), 1, "1.0"},
        {"63 characters", true, FileWith(longest + '\0'), 1, longest},
        {"empty text", true, FileWith(std::string(1, '\0')), 1, ""},
        {"no version information", false, {}, 0, ""},
        {"ProductVersion under the second pair only", true, secondPairOnly, 0, ""},
        {"empty translation list", true, emptyList, 0, ""},
        {"no translation list", true, noList, 0, ""},
        {"information not readable", true, unreadable, 0, ""},
        {"block not allocated", true, FileWith(one), 0, "", true},
        {"64 characters", true, FileWith(longest + '.' + '\0'), 0, ""},
        {"no NUL before the block ends", true, FileWith("1.2.3"), 0, ""},
    };
    for (const ReadRow& row : rows) {
        SCOPED_TRACE(row.name);
        FakeVersionReset();
        if (row.exists) FakeVersionSetFile("a.dll", row.file);
        FakeVersionFailAllocation(row.allocationFails);
        char text[VERSION_TEXT_SIZE];
        std::memset(text, 0xCD, sizeof text);
        EXPECT_EQ(row.result, ReadProductVersion("a.dll", text));
        if (row.result) {
            EXPECT_EQ(row.text, text);
        }
        EXPECT_EQ(0, FakeVersionLiveBlocks());
        // A file without a readable version never blocks a replacement.
        FakeVersionSetProductVersion("old.dll", "9.9");
        EXPECT_EQ(row.result ? 0 : 1, IsNewerOrSame("a.dll", "old.dll"));
    }
}

// The packaged copy's version read from its bytes, never a byte outside the image however it is
// damaged. What it reads is compared with Windows' own reading on real files under Wine.
TEST(ImageVersion, ReadsTheImageAsTheFileWouldRead) {
    const struct {
        const char* name;
        std::string image;
        int result;
        std::string text;
    } rows[] = {
        {"PE32", VersionedProgram("2.4.0.7"), 1, "2.4.0.7"},
        {"PE32+", VersionedProgram("3.1", true), 1, "3.1"},
        {"another language", VersionedProgram("5.0", false, 0x0411), 1, "5.0"},
        {"no version resource",
         MakePe(false, 1033, VersionNode("VS_VERSION_INFO", "", false, ""), 10), 0, ""},
        {"not a program", "MZ plain text, no headers", 0, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        char text[VERSION_TEXT_SIZE];
        const auto* bytes = reinterpret_cast<const unsigned char*>(row.image.data());
        const auto size = static_cast<std::uint32_t>(row.image.size());
        EXPECT_EQ(row.result, ReadImageProductVersion(bytes, size, 0x0409, text));
        if (row.result) {
            EXPECT_EQ(row.text, text);
        }
    }

    // Cut short anywhere or with any byte damaged, an image is read within its bytes (the
    // sanitizer build sees every read) and gives its version or none.
    const std::string whole = VersionedProgram("2.5");
    for (std::size_t cut = 0; cut < whole.size(); ++cut) {
        std::vector<unsigned char> bytes(whole.begin(), whole.begin() + cut);
        char text[VERSION_TEXT_SIZE];
        EXPECT_EQ(0,
                  ReadImageProductVersion(bytes.data(), static_cast<std::uint32_t>(cut), 0, text))
            << cut;
    }
    for (std::size_t at = 0; at < whole.size(); ++at) {
        std::vector<unsigned char> bytes(whole.begin(), whole.end());
        bytes[at] ^= 0xFF;
        char text[VERSION_TEXT_SIZE];
        if (ReadImageProductVersion(bytes.data(), static_cast<std::uint32_t>(bytes.size()), 0,
                                    text)) {
            EXPECT_EQ(std::strlen(text), TextLength(text, VERSION_TEXT_SIZE)) << at;
        }
    }
}

}  // namespace
