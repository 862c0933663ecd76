// SPDX-License-Identifier: MIT
// The install folder and targets against the real registry and Windows folders. Every key and
// value is written here and removed again.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/text.h"
#include "rules/rules_seam.h"
#include "rules/targets.h"

namespace {

const char* const TEST_KEY = "Software\\TidewellRulesTest";
const char* const APP_KEY = "Software\\TidewellRulesTest\\App";
const char* const CLASS_KEY = "TidewellRulesTest.App";
const char* const ROOT_VALUE = "TidewellRulesTestPath";

void RemoveTestKeys() {
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        RegDeleteKeyA(root, APP_KEY);
        RegDeleteKeyA(root, TEST_KEY);
    }
    RegDeleteKeyA(HKEY_CLASSES_ROOT, CLASS_KEY);
    RegDeleteValueA(HKEY_CURRENT_USER, ROOT_VALUE);
}

// subKey null: the value goes into the root key itself.
void SetValue(HKEY root, const char* subKey, const char* name, DWORD type,
              const std::string& data) {
    HKEY key = root;
    if (subKey) {
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, subKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &key, nullptr));
    }
    EXPECT_EQ(ERROR_SUCCESS,
              RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                             static_cast<DWORD>(data.size())));
    if (subKey) RegCloseKey(key);
}

struct HeaderImage {
    std::vector<unsigned char> bytes = std::vector<unsigned char>(HEADER_SIZE, 0);

    HeaderImage(const std::string& registryKey, const std::string& valueName,
                const std::string& subFolder) {
        Put(offsetof(PackageHeader, registryKey), registryKey);
        Put(offsetof(PackageHeader, valueName), valueName);
        Put(offsetof(PackageHeader, subFolder), subFolder);
        Put(offsetof(PackageHeader, defaultFolder), "C:\\Default");
    }
    void Put(std::size_t offset, const std::string& text) {
        std::memcpy(bytes.data() + offset, text.c_str(), text.size() + 1);
    }
};

std::string Sz(const std::string& text) { return text + '\0'; }

struct Row {
    const char* name;
    HKEY root;
    const char* subKey;  // null: the root key itself
    const char* valueName;
    DWORD type;
    std::string data;
    const char* registryKey;
    const char* headerValueName;
    const char* subFolder;
    int result;
    std::string installDir;
};

class InstallDirWin32Test : public ::testing::Test {
protected:
    void SetUp() override { RemoveTestKeys(); }
    void TearDown() override { RemoveTestKeys(); }
};

TEST_F(InstallDirWin32Test, ReadsTheRealRegistry) {
    const std::string example = "C:\\Apps\\Example";
    const std::string longest = "C:\\" + std::string(256, 'x');
    const std::string shorter = "C:\\" + std::string(252, 'x');
    SetEnvironmentVariableA("TidewellRulesTestRoot", "C:\\Apps");
    const char* const LM = "HKEY_LOCAL_MACHINE\\Software\\TidewellRulesTest\\App";
    const Row rows[] = {
        {"local machine", HKEY_LOCAL_MACHINE, APP_KEY, "Path", REG_SZ, Sz(example), LM, "Path", "",
         1, example},
        {"current user and sub-folder", HKEY_CURRENT_USER, APP_KEY, "Path", REG_SZ, Sz(example),
         "HKEY_CURRENT_USER\\Software\\TidewellRulesTest\\App", "Path", "Bin", 1,
         example + "\\Bin"},
        {"classes root", HKEY_CLASSES_ROOT, CLASS_KEY, "Path", REG_SZ, Sz(example),
         "HKEY_CLASSES_ROOT\\TidewellRulesTest.App", "Path", "", 1, example},
        {"root in lower case", HKEY_LOCAL_MACHINE, APP_KEY, "Path", REG_SZ, Sz(example),
         "hkey_local_machine\\Software\\TidewellRulesTest\\App", "Path", "", 1, example},
        {"no root name: 19 characters skipped", HKEY_LOCAL_MACHINE, APP_KEY, "Path", REG_SZ,
         Sz(example),
         "nineteen characters"
         "Software\\TidewellRulesTest\\App",
         "Path", "", 1, example},
        {"no root name: not taken whole", HKEY_LOCAL_MACHINE, APP_KEY, "Path", REG_SZ, Sz(example),
         "Software\\TidewellRulesTest\\App", "Path", "Bin", 1, "C:\\Default"},
        {"root key alone", HKEY_CURRENT_USER, nullptr, ROOT_VALUE, REG_SZ, Sz(example),
         "HKEY_CURRENT_USER", ROOT_VALUE, "", 1, example},
        {"default value", HKEY_LOCAL_MACHINE, APP_KEY, "", REG_SZ, Sz(example), LM, "", "", 1,
         example},
        {"expandable text expanded", HKEY_LOCAL_MACHINE, APP_KEY, "Path", REG_EXPAND_SZ,
         Sz("%TidewellRulesTestRoot%\\Example"), LM, "Path", "", 1, example},
        {"plain text not expanded", HKEY_LOCAL_MACHINE, APP_KEY, "Path", REG_SZ,
         Sz("%TidewellRulesTestRoot%\\Example"), LM, "Path", "", 0, ""},
        {"more than 260 bytes", HKEY_LOCAL_MACHINE, APP_KEY, "Path", REG_SZ,
         Sz("C:\\" + std::string(300, 'x')), LM, "Path", "", 0, ""},
        {"not a text", HKEY_LOCAL_MACHINE, APP_KEY, "Path", REG_BINARY, Sz(example), LM, "Path", "",
         0, ""},
        {"0-byte value", HKEY_LOCAL_MACHINE, APP_KEY, "Path", REG_SZ, "", LM, "Path", "Bin", 0, ""},
        {"relative", HKEY_LOCAL_MACHINE, APP_KEY, "Path", REG_SZ, Sz("Apps"), LM, "Path", "", 0,
         ""},
        {"value ending in a backslash", HKEY_LOCAL_MACHINE, APP_KEY, "Path", REG_SZ,
         Sz(example + "\\"), LM, "Path", "Bin", 1, example + "\\\\Bin"},
        {"value missing", HKEY_LOCAL_MACHINE, APP_KEY, "Other", REG_SZ, Sz(example), LM, "Path",
         "Bin", 1, "C:\\Default"},
        {"key missing", HKEY_CURRENT_USER, APP_KEY, "Path", REG_SZ, Sz(example), LM, "Path", "Bin",
         1, "C:\\Default"},
        {"260 bytes with the zero last", HKEY_LOCAL_MACHINE, APP_KEY, "Path", REG_SZ, Sz(longest),
         LM, "Path", "", 1, longest},
        {"260 characters without a zero", HKEY_LOCAL_MACHINE, APP_KEY, "Path", REG_SZ,
         longest + "x", LM, "Path", "", 0, ""},
        {"259 characters with the sub-folder", HKEY_LOCAL_MACHINE, APP_KEY, "Path", REG_SZ,
         Sz(shorter), LM, "Path", "bin", 1, shorter + "\\bin"},
        {"260 characters with the sub-folder", HKEY_LOCAL_MACHINE, APP_KEY, "Path", REG_SZ,
         Sz(shorter + "x"), LM, "Path", "bin", 0, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RemoveTestKeys();
        SetValue(row.root, row.subKey, row.valueName, row.type, row.data);
        HeaderImage package(row.registryKey, row.headerValueName, row.subFolder);
        PackageImage image{package.bytes.data(), static_cast<std::uint32_t>(HEADER_SIZE)};
        char installDir[PATH_TEXT_SIZE];
        std::memset(installDir, 0xCD, sizeof installDir);
        EXPECT_EQ(row.result,
                  ResolveInstallDir(image, *reinterpret_cast<const PackageHeader*>(image.data),
                                    installDir));
        ASSERT_LT(TextLength(installDir, sizeof installDir), sizeof installDir);
        EXPECT_EQ(row.installDir, installDir);
    }
}

TEST(TargetsWin32Test, RealWindowsAndSystemFolders) {
    char windows[PATH_TEXT_SIZE];
    char system[PATH_TEXT_SIZE];
    ASSERT_EQ(1, GetWindowsFolder(windows));
    ASSERT_EQ(1, GetSystemFolder(system));
    EXPECT_EQ(0, lstrcmpiA("C:\\windows", windows)) << windows;
    EXPECT_EQ(0, lstrcmpiA("C:\\windows\\system32", system)) << system;

    char path[PATH_TEXT_SIZE];
    ASSERT_EQ(1, ResolveTargetPath("win.ini", "<WindowsDir>", nullptr, path));
    EXPECT_EQ(std::string(windows) + "\\win.ini", path);
    ASSERT_EQ(1, ResolveTargetPath("shared.dll", "<systemdir>\\sub", nullptr, path));
    EXPECT_EQ(std::string(system) + "\\sub\\shared.dll", path);
    std::memset(path, 0xCD, sizeof path);
    EXPECT_EQ(0, ResolveTargetPath("tool.exe", "<InstallDir>", nullptr, path));
    EXPECT_EQ(static_cast<char>(0xCD), path[0]);
}

}  // namespace
