// SPDX-License-Identifier: MIT
// The shortcut subsystem against Wine's real shell, file system and registry.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/text.h"
#include "shortcuts/shell_folders.h"
#include "shortcuts/shell_seam.h"
#include "shortcuts/shortcuts.h"

namespace {

const char SHELL_FOLDERS_KEY[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char GRP_CONV_KEY[] = ".DEFAULT\\Software\\Microsoft\\Windows\\CurrentVersion\\GrpConv";
const char MAP_GROUPS_KEY[] =
    ".DEFAULT\\Software\\Microsoft\\Windows\\CurrentVersion\\GrpConv\\MapGroups";
const char QUICK_LAUNCH_SUFFIX[] = "\\Microsoft\\Internet Explorer\\Quick Launch";

std::string SpecialFolder(int csidl) {
    char path[MAX_PATH] = {};
    if (SHGetFolderPathA(nullptr, csidl, nullptr, 0, path) != S_OK) return std::string();
    return path;
}

std::string TempFolder() {
    char path[MAX_PATH] = {};
    GetTempPathA(sizeof path, path);
    return path;
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsFolder(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ReadBytes(const std::string& path) {
    std::string bytes;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return bytes;
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, got);
    std::fclose(file);
    return bytes;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, file) << path;
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

struct LinkFields {
    std::string target;
    std::string arguments;
    std::string workingDir;
    std::string description;
};

// Opens a .lnk through the shell, as Explorer would, and reads back what was set on it.
bool ReadLink(const std::string& path, LinkFields* fields) {
    bool read = false;
    CoInitialize(nullptr);
    IShellLinkA* link = nullptr;
    IPersistFile* file = nullptr;
    WCHAR widePath[MAX_PATH];
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   reinterpret_cast<void**>(&link))) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
        MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, widePath, MAX_PATH) &&
        SUCCEEDED(file->Load(widePath, STGM_READ))) {
        char text[1024];
        std::memset(text, 0, sizeof text);
        link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH);
        fields->target = text;
        std::memset(text, 0, sizeof text);
        link->GetArguments(text, sizeof text);
        fields->arguments = text;
        std::memset(text, 0, sizeof text);
        link->GetWorkingDirectory(text, MAX_PATH);
        fields->workingDir = text;
        std::memset(text, 0, sizeof text);
        link->GetDescription(text, sizeof text);
        fields->description = text;
        read = true;
    }
    if (file) file->Release();
    if (link) link->Release();
    CoUninitialize();
    return read;
}

void ExpectLink(const std::string& path, const std::string& target, const std::string& arguments,
                const std::string& workingDir, const std::string& description) {
    SCOPED_TRACE(path);
    LinkFields fields;
    ASSERT_TRUE(ReadLink(path, &fields));
    EXPECT_STRCASEEQ(target.c_str(), fields.target.c_str());
    EXPECT_EQ(arguments, fields.arguments);
    EXPECT_STRCASEEQ(workingDir.c_str(), fields.workingDir.c_str());
    EXPECT_EQ(description, fields.description);
}

// Removes the files and then the folders a test made, deepest last-listed first.
struct Cleanup {
    std::vector<std::string> files;
    std::vector<std::string> folders;
    ~Cleanup() {
        for (const std::string& file : files) DeleteFileA(file.c_str());
        for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder)
            RemoveDirectoryA(folder->c_str());
    }
};

class ShortcutsWin32 : public ::testing::Test {
protected:
    void SetUp() override {
        target_ = TempFolder() + "tidewell-shortcut-target.exe";
        WriteBytes(target_, "MZ not really a program");
        targetDir_ = target_.substr(0, target_.rfind('\\'));
        desktop_ = SpecialFolder(CSIDL_DESKTOPDIRECTORY);
        startMenu_ = SpecialFolder(CSIDL_STARTMENU);
        programs_ = SpecialFolder(CSIDL_COMMON_PROGRAMS);
        startup_ = SpecialFolder(CSIDL_STARTUP);
        ASSERT_TRUE(IsFolder(desktop_)) << desktop_;
        ASSERT_TRUE(IsFolder(startMenu_)) << startMenu_;
        ASSERT_TRUE(IsFolder(programs_)) << programs_;
        ASSERT_TRUE(IsFolder(startup_)) << startup_;
    }
    void TearDown() override { DeleteFileA(target_.c_str()); }

    std::string target_, targetDir_, desktop_, startMenu_, programs_, startup_;
};

TEST_F(ShortcutsWin32, SpecialFoldersAreTheShellsOwn) {
    struct Row {
        const char* name;
        int (*lookUp)(char*);
        const std::string* expected;
    } rows[] = {
        {"ProgramMenu", GetProgramMenuDir, &programs_},
        {"Desktop", GetDesktopDir, &desktop_},
        {"StartMenu", GetStartMenuDir, &startMenu_},
        {"StartUpMenu", GetStartUpDir, &startup_},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        char folder[PATH_TEXT_SIZE];
        std::memset(folder, 0xDD, sizeof folder);
        ASSERT_EQ(1, row.lookUp(folder));
        EXPECT_STRCASEEQ(row.expected->c_str(), folder);
    }
    // A folder number the shell does not know leaves the buffer as it was.
    char folder[PATH_TEXT_SIZE];
    std::memset(folder, 0xDD, sizeof folder);
    EXPECT_EQ(0, LookUpSpecialFolder(0x7F, folder));
    EXPECT_EQ(0xDD, static_cast<unsigned char>(folder[0]));
}

TEST_F(ShortcutsWin32, ShortcutsOpenInTheShellWithWhatTheTextAsked) {
    char quickLaunch[PATH_TEXT_SIZE];
    ASSERT_EQ(1, GetQuickLaunchDir(quickLaunch));
    Cleanup cleanup;
    // Quick Launch and its parents may not exist yet in a new prefix: what we make, we remove.
    std::string quick = quickLaunch;
    for (std::size_t cut = quick.find('\\', 3); cut != std::string::npos;
         cut = quick.find('\\', cut + 1))
        if (!Exists(quick.substr(0, cut))) cleanup.folders.push_back(quick.substr(0, cut));
    if (!Exists(quick)) cleanup.folders.push_back(quick);
    const std::string suite = programs_ + "\\Tidewell Test Suite";
    cleanup.folders.push_back(suite);
    cleanup.folders.push_back(suite + "\\Deep");
    struct Expected {
        std::string path, arguments, description;
    } expected[] = {
        {desktop_ + "\\Tidewell Test App.lnk", "C:\\My Files\\read me.txt", "Tidewell Test App"},
        {suite + "\\Deep\\Tool.lnk", "-a;-b", "Tool"},
        {startMenu_ + "\\Tidewell Test Menu.lnk", "", "Tidewell Test Menu"},
        {startup_ + "\\Tidewell Test Startup.lnk", "-s", "Tidewell Test Startup"},
        {quick + "\\Tidewell Test Quick.lnk", "-q", "Tidewell Test Quick"},
    };
    for (const Expected& link : expected) {
        DeleteFileA(link.path.c_str());
        cleanup.files.push_back(link.path);
    }
    ASSERT_FALSE(Exists(suite)) << "left over from an earlier run";

    const char text[] =
        " \"<Desktop>\\Tidewell Test App\" ; \"C:\\My Files\\read me.txt\"\r\n"
        "<ProgramMenu>\\Tidewell Test Suite\\Deep\\Tool;-a;-b;\r\n"
        "<startmenu>\\Tidewell Test Menu;\r\n"
        "<StartUpMenu>\\Tidewell Test Startup;-s\r\n"
        "<QuickLaunch>\\Tidewell Test Quick;-q\r\n";
    EXPECT_EQ(1, ApplyShortcutSpecs(text, target_.c_str()));
    for (const Expected& link : expected)
        ExpectLink(link.path, target_, link.arguments, targetDir_, link.description);
    EXPECT_TRUE(IsFolder(suite + "\\Deep"));

    // COM was given back after each shortcut: the thread is not left in an apartment.
    HRESULT initialised = CoInitialize(nullptr);
    EXPECT_EQ(S_OK, initialised);
    if (SUCCEEDED(initialised)) CoUninitialize();
}

TEST_F(ShortcutsWin32, AnExistingShortcutIsLeftByteForByte) {
    Cleanup cleanup;
    const std::string foreign = desktop_ + "\\Tidewell Test Foreign.lnk";
    const std::string ours = desktop_ + "\\Tidewell Test Again.lnk";
    cleanup.files = {foreign, ours};
    DeleteFileA(ours.c_str());
    WriteBytes(foreign, "not a shell link at all");

    ApplyShortcutSpecs("<Desktop>\\Tidewell Test Foreign;-x\r\n<Desktop>\\Tidewell Test Again;-1",
                       target_.c_str());
    EXPECT_EQ("not a shell link at all", ReadBytes(foreign));
    const std::string first = ReadBytes(ours);
    ASSERT_FALSE(first.empty());

    // A second run, now with other arguments, changes nothing.
    ApplyShortcutSpecs("<Desktop>\\Tidewell Test Again;-2", target_.c_str());
    EXPECT_EQ(first, ReadBytes(ours));
    ExpectLink(ours, target_, "-1", targetDir_, "Tidewell Test Again");
}

TEST_F(ShortcutsWin32, WorksOnAThreadAlreadyInTheMultithreadedApartment) {
    Cleanup cleanup;
    const std::string link = desktop_ + "\\Tidewell Test Apartment.lnk";
    cleanup.files = {link};
    DeleteFileA(link.c_str());
    ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    ApplyShortcutSpecs("<Desktop>\\Tidewell Test Apartment;", target_.c_str());
    // Our initialisation stands: a second one only counts up.
    EXPECT_EQ(S_FALSE, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    CoUninitialize();
    CoUninitialize();
    EXPECT_TRUE(Exists(link));
}

TEST_F(ShortcutsWin32, CreatesAMissingFolderChain) {
    const std::string root = TempFolder() + "tidewell-chain";
    Cleanup cleanup;
    cleanup.folders = {root, root + "\\a", root + "\\a\\b", root + "\\a\\b\\c"};
    ASSERT_FALSE(Exists(root));
    EXPECT_EQ(1, CreateFolderChain((root + "\\a\\b\\c").c_str()));
    EXPECT_TRUE(IsFolder(root + "\\a\\b\\c"));
    // A file in the way is left as it is.
    WriteBytes(root + "\\file", "x");
    cleanup.files = {root + "\\file"};
    EXPECT_EQ(1, CreateFolderChain((root + "\\file").c_str()));
    EXPECT_EQ("x", ReadBytes(root + "\\file"));
}

TEST_F(ShortcutsWin32, MoveRecordsMoveOverwriteAndDelete) {
    Cleanup cleanup;
    const std::string source = desktop_ + "\\Tidewell Test Old.lnk";
    const std::string folder = startMenu_ + "\\Tidewell Test Moved";
    const std::string destination = folder + "\\New.lnk";
    cleanup.files = {source, destination};
    cleanup.folders = {folder};
    DeleteFileA(source.c_str());
    ASSERT_FALSE(Exists(folder));

    ApplyShortcutSpecs("<Desktop>\\Tidewell Test Old;--old", target_.c_str());
    const std::string original = ReadBytes(source);
    ASSERT_FALSE(original.empty());

    // Into a folder that does not exist yet.
    EXPECT_EQ(
        1, MoveShortcut("<Desktop>\\Tidewell Test Old", "<StartMenu>\\Tidewell Test Moved\\New"));
    EXPECT_FALSE(Exists(source));
    EXPECT_EQ(original, ReadBytes(destination));
    ExpectLink(destination, target_, "--old", targetDir_, "Tidewell Test Old");

    // Over an existing destination. The new link is compared with itself: the shell stores the
    // folders' times in a link, so two links made at different moments may differ.
    ApplyShortcutSpecs("<Desktop>\\Tidewell Test Old;--old", target_.c_str());
    const std::string second = ReadBytes(source);
    WriteBytes(destination, "stale destination");
    EXPECT_EQ(
        1, MoveShortcut("<desktop>\\Tidewell Test Old", "<StartMenu>\\Tidewell Test Moved\\New"));
    EXPECT_FALSE(Exists(source));
    EXPECT_EQ(second, ReadBytes(destination));

    // An empty destination deletes; so does one without a known tag.
    EXPECT_EQ(1, MoveShortcut("<StartMenu>\\Tidewell Test Moved\\New", ""));
    EXPECT_FALSE(Exists(destination));
    ApplyShortcutSpecs("<Desktop>\\Tidewell Test Old;--old", target_.c_str());
    EXPECT_EQ(1, MoveShortcut("<Desktop>\\Tidewell Test Old", "<Nowhere>\\Old"));
    EXPECT_FALSE(Exists(source));
}

TEST_F(ShortcutsWin32, AMoveThatCannotCopyKeepsTheShortcut) {
    Cleanup cleanup;
    const std::string source = desktop_ + "\\Tidewell Test Keep.lnk";
    const std::string blocker = desktop_ + "\\Tidewell Test Blocker.lnk";  // a folder
    cleanup.files = {source};
    cleanup.folders = {blocker};
    DeleteFileA(source.c_str());
    ASSERT_TRUE(CreateDirectoryA(blocker.c_str(), nullptr));
    ApplyShortcutSpecs("<Desktop>\\Tidewell Test Keep;", target_.c_str());
    const std::string original = ReadBytes(source);
    ASSERT_FALSE(original.empty());

    EXPECT_EQ(1, MoveShortcut("<Desktop>\\Tidewell Test Keep", "<Desktop>\\Tidewell Test Blocker"));
    EXPECT_EQ(original, ReadBytes(source));
    // Onto itself: the copy cannot be made, and the shortcut must not be lost.
    EXPECT_EQ(1, MoveShortcut("<Desktop>\\Tidewell Test Keep", "<DESKTOP>\\tidewell test keep"));
    EXPECT_EQ(original, ReadBytes(source));
}

// Sets, reads back and restores a registry string value; keys it had to create are removed.
class RegistryValue {
public:
    RegistryValue(HKEY root, const char* subKey, const char* name)
        : root_(root), subKey_(subKey), name_(name) {
        HKEY key;
        if (RegOpenKeyExA(root_, subKey_, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
            char data[1024];
            DWORD size = sizeof data;
            DWORD type = 0;
            if (RegQueryValueExA(key, name_, nullptr, &type, reinterpret_cast<BYTE*>(data),
                                 &size) == ERROR_SUCCESS) {
                hadValue_ = true;
                savedType_ = type;
                saved_.assign(data, size);
            }
            RegCloseKey(key);
        } else {
            createdKey_ = true;
        }
    }
    ~RegistryValue() {
        HKEY key;
        if (RegOpenKeyExA(root_, subKey_, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            if (hadValue_)
                RegSetValueExA(key, name_, 0, savedType_,
                               reinterpret_cast<const BYTE*>(saved_.data()),
                               static_cast<DWORD>(saved_.size()));
            else
                RegDeleteValueA(key, name_);
            RegCloseKey(key);
        }
        if (createdKey_) RegDeleteKeyA(root_, subKey_);
    }
    bool Set(const std::string& text) {
        HKEY key;
        if (RegCreateKeyExA(root_, subKey_, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
            ERROR_SUCCESS)
            return false;
        LONG result =
            RegSetValueExA(key, name_, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>(text.size() + 1));
        RegCloseKey(key);
        return result == ERROR_SUCCESS;
    }
    bool Get(std::string* text) {
        HKEY key;
        if (RegOpenKeyExA(root_, subKey_, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
        char data[1024] = {};
        DWORD size = sizeof data - 1;
        LONG result =
            RegQueryValueExA(key, name_, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
        RegCloseKey(key);
        *text = data;
        return result == ERROR_SUCCESS;
    }

private:
    HKEY root_;
    const char* subKey_;
    const char* name_;
    bool hadValue_ = false;
    bool createdKey_ = false;
    DWORD savedType_ = REG_SZ;
    std::string saved_;
};

TEST(QuickLaunchWin32, ThisReleaseReadsTheUsersAppData) {
    ASSERT_GE(GetOsKind(), OS_KIND_WIN2000) << "Wine's own release is expected to be recent";
    // Make sure the shell has recorded its folders, then read what it recorded.
    ASSERT_FALSE(SpecialFolder(CSIDL_APPDATA).empty());
    RegistryValue appData(HKEY_CURRENT_USER, SHELL_FOLDERS_KEY, "AppData");
    std::string expected;
    ASSERT_TRUE(appData.Get(&expected));
    char folder[PATH_TEXT_SIZE];
    std::memset(folder, 0xDD, sizeof folder);
    ASSERT_EQ(1, GetQuickLaunchDir(folder));
    EXPECT_EQ(expected + QUICK_LAUNCH_SUFFIX, folder);

    // An "AppData" the shell key does not hold gives no folder rather than the bare suffix.
    ASSERT_TRUE(appData.Set(""));
    EXPECT_EQ(0, GetQuickLaunchDir(folder));
    EXPECT_STREQ("", folder);
}

struct ProbeReport {
    bool ran = false;
    unsigned major = 0, minor = 0, platform = 0, kind = 0;
    int found = 0;
    std::string folder;
};

// Starts the probe beside this program and reads its one line.
ProbeReport RunProbe() {
    ProbeReport report;
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string probe = self;
    probe = probe.substr(0, probe.rfind('\\') + 1) + "shortcuts_probe.exe";
    std::string output = TempFolder() + "tidewell-shortcuts-probe.txt";
    DeleteFileA(output.c_str());
    std::string command = "\"" + probe + "\" \"" + output + "\"";
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(probe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return report;
    WaitForSingleObject(process.hProcess, 60000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    std::string text = ReadBytes(output);
    DeleteFileA(output.c_str());
    int succeeded = 0;
    int consumed = 0;
    if (std::sscanf(text.c_str(), "%d|%u|%u|%u|%u|%d|%n", &succeeded, &report.major, &report.minor,
                    &report.platform, &report.kind, &report.found, &consumed) == 6 &&
        consumed > 0) {
        report.ran = succeeded == 1;
        report.folder = text.substr(consumed);
    }
    return report;
}

TEST(QuickLaunchWin32, OlderReleasesReadTheDefaultUsersValue) {
    const std::string defaultQuickLaunch = "C:\\Tidewell Default Quick Launch";
    char ownAppData[MAX_PATH] = {};
    ASSERT_EQ(S_OK, SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, 0, ownAppData));
    const std::string appDataQuickLaunch = std::string(ownAppData) + QUICK_LAUNCH_SUFFIX;

    // Keys are removed innermost first: MapGroups' guard is destroyed before GrpConv's.
    RegistryValue grpConv(HKEY_USERS, GRP_CONV_KEY, "Tidewell unused");
    RegistryValue mapGroups(HKEY_USERS, MAP_GROUPS_KEY, "Quick Launch");
    ASSERT_TRUE(mapGroups.Set(defaultQuickLaunch));
    // Wine's per-user release setting, for the probe alone: the same setting for every program
    // would change the release under other tests running in this prefix at the same time.
    RegistryValue wineVersion(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\shortcuts_probe.exe",
                              "Version");

    struct Row {
        const char* wineName;
        unsigned major, minor, platform;
        OsKind kind;
    } rows[] = {
        {"win95", 4, 0, 1, OS_KIND_WIN95},        {"win98", 4, 10, 1, OS_KIND_WIN98},
        {"winme", 4, 90, 1, OS_KIND_ME},          {"nt40", 4, 0, 2, OS_KIND_NT4},
        {"win2k", 5, 0, 2, OS_KIND_WIN2000},      {"winxp", 5, 1, 2, OS_KIND_XP},
        {"winxp64", 5, 2, 2, OS_KIND_SERVER2003},
    };
    int olderSeen = 0;
    std::string refused;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.wineName);
        ASSERT_TRUE(wineVersion.Set(row.wineName));
        ProbeReport report = RunProbe();
        ASSERT_TRUE(report.ran);
        if (report.major != row.major || report.minor != row.minor ||
            report.platform != row.platform) {
            // Wine refuses some releases to a 64-bit program and reports its default instead.
            refused += std::string(" ") + row.wineName + " (reported " +
                       std::to_string(report.major) + "." + std::to_string(report.minor) +
                       " platform " + std::to_string(report.platform) + ")";
            continue;
        }
        EXPECT_EQ(static_cast<unsigned>(row.kind), report.kind);
        EXPECT_EQ(1, report.found);
        if (row.kind < OS_KIND_WIN2000) {
            ++olderSeen;
            EXPECT_EQ(defaultQuickLaunch, report.folder);
        } else {
            EXPECT_STRCASEEQ(appDataQuickLaunch.c_str(), report.folder.c_str());
        }
    }
    if (!refused.empty()) std::printf("Wine did not report:%s\n", refused.c_str());
    if (olderSeen == 0)
        GTEST_SKIP() << "Wine reported no release below Windows 2000 to this program:" << refused;
}

}  // namespace
