// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/text.h"
#include "fakes/registry_fake.h"
#include "fakes/rules_fake.h"
#include "rules/targets.h"

namespace {

// A header-only image with the four texts the install folder is found by.
struct HeaderImage {
    std::vector<unsigned char> bytes = std::vector<unsigned char>(HEADER_SIZE, 0);

    HeaderImage(const std::string& registryKey, const std::string& valueName,
                const std::string& subFolder, const std::string& defaultFolder) {
        Put(offsetof(PackageHeader, registryKey), registryKey);
        Put(offsetof(PackageHeader, valueName), valueName);
        Put(offsetof(PackageHeader, subFolder), subFolder);
        Put(offsetof(PackageHeader, defaultFolder), defaultFolder);
    }
    void Put(std::size_t offset, const std::string& text) {
        std::memcpy(bytes.data() + offset, text.c_str(), text.size() + 1);
    }
    PackageImage Image() const {
        return PackageImage{bytes.data(), static_cast<std::uint32_t>(bytes.size())};
    }
    const PackageHeader& Header() const {
        return *reinterpret_cast<const PackageHeader*>(bytes.data());
    }
};

int Resolve(const HeaderImage& package, std::string* installDir) {
    char buffer[PATH_TEXT_SIZE];
    std::memset(buffer, 0xCD, sizeof buffer);
    int result = ResolveInstallDir(package.Image(), package.Header(), buffer);
    EXPECT_LT(TextLength(buffer, sizeof buffer), sizeof buffer) << "left unterminated";
    *installDir = std::string(buffer, TextLength(buffer, sizeof buffer));
    return result;
}

const char* const APP_KEY = "Software\\Example\\App";
const std::string VALUE = std::string("C:\\Apps\\Example") + '\0';

struct KeyRow {
    const char* name;
    const char* registryKey;
    RegistryRoot root;
    const char* subKey;
};

TEST(ResolveInstallDir, ChoosesRootAndSubKeyByTheRootName) {
    const KeyRow rows[] = {
        {"local machine", "HKEY_LOCAL_MACHINE\\Software\\Example\\App", REGISTRY_LOCAL_MACHINE,
         APP_KEY},
        {"current user", "HKEY_CURRENT_USER\\Software\\Example\\App", REGISTRY_CURRENT_USER,
         APP_KEY},
        {"classes root", "HKEY_CLASSES_ROOT\\Software\\Example\\App", REGISTRY_CLASSES_ROOT,
         APP_KEY},
        {"lower case root", "hkey_current_user\\Software\\Example\\App", REGISTRY_CURRENT_USER,
         APP_KEY},
        {"mixed case root", "Hkey_Classes_Root\\Software\\Example\\App", REGISTRY_CLASSES_ROOT,
         APP_KEY},
        // 19 characters are skipped whatever they are: "Software\Example\Ap" goes.
        {"no root name", "Software\\Example\\App", REGISTRY_LOCAL_MACHINE, "p"},
        {"no root name, short", "Software", REGISTRY_LOCAL_MACHINE, ""},
        {"no root name, 19 characters", "Software\\Example\\Ap", REGISTRY_LOCAL_MACHINE, ""},
        {"empty key", "", REGISTRY_LOCAL_MACHINE, ""},
        {"root alone", "HKEY_CURRENT_USER", REGISTRY_CURRENT_USER, ""},
        {"root and separator alone", "HKEY_LOCAL_MACHINE\\", REGISTRY_LOCAL_MACHINE, ""},
        {"other separator", "HKEY_CURRENT_USER/Software\\Example\\App", REGISTRY_CURRENT_USER,
         APP_KEY},
        {"root name cut short", "HKEY_CURRENT_USE\\Software\\Example\\App", REGISTRY_LOCAL_MACHINE,
         "ftware\\Example\\App"},
    };
    for (const KeyRow& row : rows) {
        SCOPED_TRACE(row.name);
        FakeRegistryReset();
        FakeRegistrySetValue(row.root, row.subKey, "Path", VALUE);
        std::string installDir;
        EXPECT_EQ(1, Resolve(HeaderImage(row.registryKey, "Path", "", "C:\\Default"), &installDir));
        EXPECT_EQ("C:\\Apps\\Example", installDir);
        ASSERT_EQ(1u, FakeRegistryReads().size());
        EXPECT_EQ(row.root, FakeRegistryReads()[0].root);
        EXPECT_EQ(row.subKey, FakeRegistryReads()[0].subKey);
        EXPECT_EQ(REGISTRY_KEY_READ, FakeRegistryReads()[0].access);
        EXPECT_EQ("Path", FakeRegistryReads()[0].valueName);
    }
}

struct ValueRow {
    const char* name;
    bool keyExists;
    bool valueExists;
    std::string data;
    const char* subFolder;
    int result;
    std::string installDir;
};

TEST(ResolveInstallDir, UsesTheValueOrDefaultFolder) {
    // Absolute folders of 259 characters, and of 255 (259 with "\bin").
    const std::string longest = "C:\\" + std::string(256, 'x');
    const std::string shorter = "C:\\" + std::string(252, 'x');
    const ValueRow rows[] = {
        {"value", true, true, VALUE, "", 1, "C:\\Apps\\Example"},
        {"value and sub-folder", true, true, VALUE, "Bin", 1, "C:\\Apps\\Example\\Bin"},
        {"value ending in a backslash", true, true, std::string("C:\\Apps\\Example\\") + '\0',
         "Bin", 1, "C:\\Apps\\Example\\\\Bin"},
        {"value without a zero byte", true, true, "C:\\Apps\\Example", "Bin", 1,
         "C:\\Apps\\Example\\Bin"},
        {"value ends at its first zero byte", true, true, std::string("C:\\A\0C:\\B\0", 10), "", 1,
         "C:\\A"},
        {"server share", true, true, "\\\\server\\apps", "", 1, "\\\\server\\apps"},
        {"forward slash after the drive", true, true, "d:/Apps", "", 1, "d:/Apps"},
        // Never resolved against the current folder, nor replaced by the default folder.
        {"unexpanded reference", true, true, std::string("%ProgramFiles%\\Example") + '\0', "", 0,
         ""},
        {"relative", true, true, "Apps\\Example", "", 0, ""},
        {"bare drive", true, true, "C:", "Bin", 0, ""},
        {"drive-relative", true, true, "C:Apps", "", 0, ""},
        {"rooted without a drive", true, true, "\\Apps", "", 0, ""},
        {"empty text", true, true, std::string(1, '\0'), "Bin", 0, ""},
        {"0-byte value", true, true, "", "Bin", 0, ""},
        {"value missing", true, false, "", "Bin", 1, "C:\\Default"},
        {"key missing", false, false, "", "Bin", 1, "C:\\Default"},
        // Longer than the buffer (ERROR_MORE_DATA) is a value, not a missing one.
        {"more than 260 bytes", true, true, std::string(261, 'x'), "", 0, ""},
        {"260 bytes with the zero last", true, true, longest + '\0', "", 1, longest},
        {"260 bytes without a zero", true, true, longest + 'x', "", 0, ""},
        {"259 characters and a sub-folder", true, true, longest + '\0', "b", 0, ""},
        {"exactly 259 with the sub-folder", true, true, shorter + '\0', "bin", 1,
         shorter + "\\bin"},
        {"one over 259 with the sub-folder", true, true, shorter + "x" + '\0', "bin", 0, ""},
    };
    for (const ValueRow& row : rows) {
        SCOPED_TRACE(row.name);
        FakeRegistryReset();
        if (row.keyExists) FakeRegistryAddKey(REGISTRY_LOCAL_MACHINE, APP_KEY);
        if (row.valueExists) FakeRegistrySetValue(REGISTRY_LOCAL_MACHINE, APP_KEY, "", row.data);
        HeaderImage package("HKEY_LOCAL_MACHINE\\Software\\Example\\App", "", row.subFolder,
                            "C:\\Default");
        std::string installDir;
        EXPECT_EQ(row.result, Resolve(package, &installDir));
        EXPECT_EQ(row.installDir, installDir);
    }
}

// The 32-bit view (where a 32-bit program on 64-bit Windows reads) first; the 64-bit view only
// where the key or the value is missing there, or where the 32-bit value names a folder that is
// gone and the 64-bit one names one that exists. "-": the key without the value; null: no key.
TEST(ResolveInstallDir, ReadsThe64BitViewOnlyWhereThe32BitViewHasNoValue) {
    const struct {
        const char* views[2];
        const char* missing;     // the folder that does not exist
        const char* installDir;  // "": no install folder
        std::size_t reads;
    } rows[] = {
        {{"C:\\A32", nullptr}, "", "C:\\A32", 1},
        {{"C:\\A32", "C:\\A64"}, "", "C:\\A32", 1},
        {{nullptr, "C:\\A64"}, "", "C:\\A64", 2},
        {{"-", "C:\\A64"}, "", "C:\\A64", 2},
        {{"A32", "C:\\A64"}, "", "", 1},
        {{nullptr, "-"}, "", "C:\\Default", 2},
        {{"C:\\A32", "C:\\A64"}, "C:\\A32", "C:\\A64", 2},
        {{"C:\\A32", "C:\\A64"}, "C:\\A64", "C:\\A32", 1},
        {{"C:\\A32", "-"}, "C:\\A32", "C:\\A32", 2},
        {{"C:\\A32", "A64"}, "C:\\A32", "C:\\A32", 2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.installDir);
        FakeRegistryReset();
        FakeSetMissingFolder(row.missing);
        for (int view = 0; view < 2; ++view) {
            if (!row.views[view]) continue;
            FakeRegistryAddKey(REGISTRY_LOCAL_MACHINE, APP_KEY, view == 1);
            if (std::string(row.views[view]) != "-")
                FakeRegistrySetValue(REGISTRY_LOCAL_MACHINE, APP_KEY, "", row.views[view], view);
        }
        std::string installDir;
        Resolve(HeaderImage("HKEY_LOCAL_MACHINE\\Software\\Example\\App", "", "", "C:\\Default"),
                &installDir);
        EXPECT_EQ(row.installDir, installDir);
        ASSERT_EQ(row.reads, FakeRegistryReads().size());
        EXPECT_EQ(REGISTRY_KEY_READ, FakeRegistryReads()[0].access);
        if (row.reads == 2) {
            EXPECT_EQ(REGISTRY_KEY_READ | REGISTRY_KEY_64_BIT_VIEW, FakeRegistryReads()[1].access);
        }
    }
    FakeSetMissingFolder(nullptr);
}

TEST(ResolveInstallDir, DefaultFolderIsUsedVerbatimOrNotAtAll) {
    const struct {
        const char* name;
        std::string defaultFolder;
        int result;
    } rows[] = {
        {"trailing backslash kept", "C:\\Program Files\\Example\\", 1},
        {"empty", "", 1},
        {"259 characters", std::string(259, 'd'), 1},
        // Wider than its field, as texts are read to their NUL; cannot be held.
        {"260 characters", std::string(260, 'd'), 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        FakeRegistryReset();
        HeaderImage package("HKEY_LOCAL_MACHINE\\Software\\Missing", "Path", "", "");
        package.Put(offsetof(PackageHeader, defaultFolder), row.defaultFolder);
        std::string installDir;
        EXPECT_EQ(row.result, Resolve(package, &installDir));
        EXPECT_EQ(row.result ? row.defaultFolder : "", installDir);
    }
}

TEST(ResolveInstallDir, TextsRunningOffTheImageAreNotRead) {
    FakeRegistryReset();
    FakeRegistrySetValue(REGISTRY_LOCAL_MACHINE, APP_KEY, "Path", VALUE);

    // subFolder, the last text, runs to the image's end: the folder it names is unknown.
    HeaderImage subFolderOpen("HKEY_LOCAL_MACHINE\\Software\\Example\\App", "Path", "",
                              "C:\\Default");
    std::memset(subFolderOpen.bytes.data() + offsetof(PackageHeader, subFolder), 'A',
                HEADER_SIZE - offsetof(PackageHeader, subFolder));
    std::string installDir;
    EXPECT_EQ(0, Resolve(subFolderOpen, &installDir));
    EXPECT_EQ("", installDir);

    // Without the key, defaultFolder alone is needed, and it is whole.
    FakeRegistryReset();
    EXPECT_EQ(1, Resolve(subFolderOpen, &installDir));
    EXPECT_EQ("C:\\Default", installDir);

    // Nothing from registryKey on is terminated: no key is read and nothing is given.
    FakeRegistryReset();
    HeaderImage allOpen("", "", "", "");
    std::memset(allOpen.bytes.data() + offsetof(PackageHeader, registryKey), 'A',
                HEADER_SIZE - offsetof(PackageHeader, registryKey));
    EXPECT_EQ(0, Resolve(allOpen, &installDir));
    EXPECT_EQ("", installDir);
    EXPECT_TRUE(FakeRegistryReads().empty());
}

}  // namespace
