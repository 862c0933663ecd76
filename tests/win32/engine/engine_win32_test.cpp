// SPDX-License-Identifier: MIT
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/globals.h"
#include "engine/worker.h"
#include "engine_support.h"
#include "package/package.h"
#include "package/package_writer.h"

namespace {

const char kRegistryKey[] = "Software\\Tidewell Engine Test";

std::vector<unsigned char> Bytes(const std::string& text) {
    return std::vector<unsigned char>(text.begin(), text.end());
}

std::string DesktopFolder() {
    char path[MAX_PATH] = "";
    SHGetSpecialFolderPathA(nullptr, path, CSIDL_DESKTOPDIRECTORY, TRUE);
    return path;
}

WriterEntry Entry(const std::string& fileName, const std::string& folder, std::uint32_t flags,
                  const std::vector<unsigned char>& data, const std::string& shortcutText = "") {
    WriterEntry entry;
    entry.fileName = fileName;
    entry.folder = folder;
    entry.flags = flags;
    entry.data = data;
    entry.shortcutText = shortcutText;
    return entry;
}

std::vector<unsigned char> Build(const WriterPackage& package) {
    std::vector<unsigned char> bytes;
    std::string error;
    EXPECT_EQ(1, BuildPackage(package, &bytes, &error)) << error;
    return bytes;
}

struct RunResult {
    int finished;  // RunUpdate returned within the time allowed
    int result;
};

DWORD WINAPI RunOnThread(LPVOID result) {
    static_cast<RunResult*>(result)->result = RunUpdate(nullptr);
    return 0;
}

class EngineWin32 : public ::testing::Test {
protected:
    void SetUp() override {
        g_done = 0;
        install_ = MakeTestFolder("Engine App");
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kRegistryKey, 0, nullptr, 0,
                                                 KEY_WRITE, nullptr, &key, nullptr));
        RegSetValueExA(key, "InstallDir", 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(install_.c_str()),
                       static_cast<DWORD>(install_.size() + 1));
        RegCloseKey(key);
        tempBefore_ = FilesIn(TempFolder(), "vq*.tmp");
    }

    void TearDown() override {
        UnloadPackageModule(module_);
        g_instance = nullptr;
        for (const std::string& name : NewTempFiles()) DeleteFileA((TempFolder() + name).c_str());
        RemoveTree(install_);
        RegDeleteKeyA(HKEY_CURRENT_USER, kRegistryKey);
    }

    WriterPackage BasePackage() {
        WriterPackage package;
        package.title = "Tidewell Engine Test";
        package.versionText = "2.0";
        package.registryKey = std::string("HKEY_CURRENT_USER\\") + kRegistryKey;
        package.valueName = "InstallDir";
        package.defaultFolder = "C:\\Tidewell engine no such folder";
        return package;
    }

    // Puts the package into a module of its own and makes it the program's instance.
    void UsePackage(const std::vector<unsigned char>& package, int withPackage = 1) {
        UnloadPackageModule(module_);
        module_ = LoadPackageModule(package, withPackage);
        ASSERT_NE(nullptr, module_);
        g_instance = module_;
    }

    // RunUpdate with no dialog, on a thread of its own so that a hang fails the test.
    RunResult Apply(const std::vector<unsigned char>& package, int withPackage = 1) {
        RunResult run = {0, -1};
        UsePackage(package, withPackage);
        HANDLE thread = CreateThread(nullptr, 0, RunOnThread, &run, 0, nullptr);
        run.finished = WaitForSingleObject(thread, 60000) == WAIT_OBJECT_0;
        CloseHandle(thread);
        return run;
    }

    std::set<std::string> NewTempFiles() {
        std::set<std::string> made;
        for (const std::string& name : FilesIn(TempFolder(), "vq*.tmp")) {
            if (!tempBefore_.count(name)) made.insert(name);
        }
        return made;
    }

    std::string Path(const std::string& name) { return install_ + "\\" + name; }

    std::string install_;
    std::set<std::string> tempBefore_;
    HMODULE module_ = nullptr;
};

TEST_F(EngineWin32, FilesReachTheirTargetsByTheirRules) {
    const std::vector<unsigned char> v1 = ReadBytes(ProgramFolder() + "\\v1.dll");
    const std::vector<unsigned char> v2 = ReadBytes(ProgramFolder() + "\\v2.dll");
    ASSERT_FALSE(v1.empty());
    ASSERT_NE(v1, v2);
    ASSERT_TRUE(WriteBytes(Path("keep.dll"), v2));
    ASSERT_TRUE(WriteBytes(Path("newer.dll"), v1));
    ASSERT_TRUE(WriteBytes(Path("forced.dll"), v2));
    CreateDirectoryA(Path("Sub").c_str(), nullptr);

    WriterPackage package = BasePackage();
    package.entries = {
        Entry("keep.dll", "<InstallDir>", 0, v1),
        Entry("newer.dll", "<InstallDir>", 0, v2),
        Entry("forced.dll", "<InstallDir>", ENTRY_ALWAYS_REPLACE, v1),
        Entry("fresh.txt", "<InstallDir>", 0, Bytes("fresh text")),
        Entry("data.txt", "<installdir>\\Sub", ENTRY_ALWAYS_REPLACE, Bytes("sub data")),
        Entry("empty.txt", "<InstallDir>", ENTRY_ALWAYS_REPLACE, {}),
        Entry("lost.txt", "<InstallDir>\\Missing", ENTRY_ALWAYS_REPLACE, Bytes("lost")),
        Entry("nowhere.txt", "C:\\Fixed", ENTRY_ALWAYS_REPLACE, Bytes("nowhere")),
    };

    RunResult run = Apply(Build(package));
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(1, run.result);
    EXPECT_EQ(1, g_done);

    EXPECT_EQ(v2, ReadBytes(Path("keep.dll"))) << "an older packaged copy leaves it alone";
    EXPECT_EQ(v2, ReadBytes(Path("newer.dll")));
    EXPECT_EQ(v1, ReadBytes(Path("forced.dll"))) << "ENTRY_ALWAYS_REPLACE whatever the version";
    EXPECT_EQ(Bytes("fresh text"), ReadBytes(Path("fresh.txt")));
    EXPECT_EQ(Bytes("sub data"), ReadBytes(Path("Sub\\data.txt")));
    EXPECT_TRUE(Exists(Path("empty.txt")));
    EXPECT_TRUE(ReadBytes(Path("empty.txt")).empty());
    EXPECT_FALSE(Exists(Path("Missing"))) << "no folder is created for a target";
    EXPECT_FALSE(Exists("C:\\Fixed\\nowhere.txt"));

    EXPECT_EQ(
        (std::set<std::string>{"empty.txt", "forced.dll", "fresh.txt", "keep.dll", "newer.dll"}),
        FilesIn(install_, "*"))
        << "nothing stray is left beside the targets";
    EXPECT_EQ(std::set<std::string>{"data.txt"}, FilesIn(Path("Sub"), "*"));
    EXPECT_EQ(7u, NewTempFiles().size())
        << "one vq file for each entry with a target, replaced or not";
}

struct LogLine {
    std::string event;
    std::string name;
    unsigned long tick;
    std::string rest;
};

std::vector<LogLine> ReadRunLog(const std::string& path) {
    std::vector<unsigned char> bytes = ReadBytes(path);
    std::istringstream text(std::string(bytes.begin(), bytes.end()));
    std::vector<LogLine> lines;
    std::string line;
    while (std::getline(text, line)) {
        std::istringstream fields(line);
        LogLine parsed;
        fields >> parsed.event >> parsed.name >> parsed.tick;
        std::getline(fields, parsed.rest);
        lines.push_back(parsed);
    }
    return lines;
}

TEST_F(EngineWin32, ProgramsRunOneAfterAnotherThenShortcutsMove) {
    const std::vector<unsigned char> child = ReadBytes(ProgramFolder() + "\\engine_child.exe");
    ASSERT_FALSE(child.empty());
    const std::string desktop = DesktopFolder();
    ASSERT_FALSE(desktop.empty());
    const std::string oldLink = desktop + "\\Tidewell Engine Test Old.lnk";
    const std::string newLink = desktop + "\\Tidewell Engine Test New.lnk";
    const std::string toolLink = desktop + "\\Tidewell Engine Test Tool.lnk";
    DeleteFileA(newLink.c_str());
    DeleteFileA(toolLink.c_str());
    ASSERT_TRUE(WriteBytes(oldLink, Bytes("an old shortcut")));
    ASSERT_TRUE(WriteBytes(Path("watch.txt"), Bytes(oldLink)));

    WriterPackage package = BasePackage();
    package.entries = {
        Entry("slow1.exe", "<InstallDir>", ENTRY_ALWAYS_REPLACE | ENTRY_RUN_AFTER, child),
        // Not a program: it cannot be started and is passed over.
        Entry("notes.txt", "<InstallDir>", ENTRY_ALWAYS_REPLACE | ENTRY_RUN_AFTER, Bytes("notes")),
        Entry("slow2.exe", "<InstallDir>", ENTRY_ALWAYS_REPLACE | ENTRY_RUN_AFTER, child,
              "<Desktop>\\Tidewell Engine Test Tool;"),
        Entry("quick259.exe", "<InstallDir>", ENTRY_ALWAYS_REPLACE | ENTRY_RUN_AFTER, child),
    };
    package.moves = {
        {"<Desktop>\\Tidewell Engine Test Old", "<Desktop>\\Tidewell Engine Test New"}};

    RunResult run = Apply(Build(package));
    ASSERT_TRUE(run.finished) << "a program ending with 259 must not hold the run";
    EXPECT_EQ(1, run.result);

    std::vector<LogLine> log = ReadRunLog(Path("run.log"));
    const char* expected[][2] = {{"start", "slow1.exe"},    {"end", "slow1.exe"},
                                 {"start", "slow2.exe"},    {"end", "slow2.exe"},
                                 {"start", "quick259.exe"}, {"end", "quick259.exe"}};
    ASSERT_EQ(6u, log.size());
    for (std::size_t i = 0; i < log.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(expected[i][0], log[i].event);
        EXPECT_EQ(expected[i][1], log[i].name);
        if (log[i].event == "start") {
            EXPECT_EQ(" args=1 watched=1", log[i].rest)
                << "started with no arguments from a folder with blanks, before any move";
        }
    }
    EXPECT_GE(log[1].tick - log[0].tick, 1900u);
    EXPECT_GE(log[2].tick, log[1].tick) << "the second starts only after the first ended";
    EXPECT_GE(log[4].tick, log[3].tick);

    EXPECT_FALSE(Exists(oldLink));
    EXPECT_EQ(Bytes("an old shortcut"), ReadBytes(newLink));
    EXPECT_TRUE(Exists(toolLink)) << "the entry's shortcut is made";
    DeleteFileA(newLink.c_str());
    DeleteFileA(toolLink.c_str());
    DeleteFileA(oldLink.c_str());
}

// The value where Windows keeps the renames left to the next restart.
std::wstring PendingRenames() {
    HKEY key;
    std::wstring text;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return text;
    DWORD bytes = 0;
    if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, nullptr, &bytes) ==
        ERROR_SUCCESS) {
        std::vector<wchar_t> value(bytes / sizeof(wchar_t) + 2, L'\0');
        RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr,
                         reinterpret_cast<BYTE*>(value.data()), &bytes);
        for (wchar_t c : value) text += c ? c : L'|';
    }
    RegCloseKey(key);
    return text;
}

void ForgetPendingRenames() {
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    RegDeleteValueW(key, L"PendingFileRenameOperations");
    RegCloseKey(key);
}

// A target held for good stays as it is; the run, elevated (as every program under Wine), leaves
// the new copy beside it to take its place at the next restart. A read-only one just stays.
TEST_F(EngineWin32, ReplaceThatFailsKeepsTheInstalledFile) {
    struct Row {
        const char* name;
        int lockWithoutShareDelete;
        int readOnly;
    };
    const Row rows[] = {{"target open without share-delete", 1, 0}, {"read-only target", 0, 1}};
    ForgetPendingRenames();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string target = Path("held.dll");
        ASSERT_TRUE(WriteBytes(target, Bytes("installed bytes")));
        DeleteFileA(Path("after.txt").c_str());
        HANDLE held = INVALID_HANDLE_VALUE;
        if (row.lockWithoutShareDelete) {
            held = CreateFileA(target.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            ASSERT_NE(INVALID_HANDLE_VALUE, held);
        }
        if (row.readOnly) SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY);

        WriterPackage package = BasePackage();
        package.entries = {
            Entry("held.dll", "<InstallDir>", ENTRY_ALWAYS_REPLACE, Bytes("new bytes, longer")),
            Entry("after.txt", "<InstallDir>", ENTRY_ALWAYS_REPLACE, Bytes("after")),
        };
        RunResult run = Apply(Build(package));
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);

        ASSERT_TRUE(run.finished);
        EXPECT_EQ(Bytes("installed bytes"), ReadBytes(target));
        EXPECT_EQ(Bytes("after"), ReadBytes(Path("after.txt"))) << "the run goes on";
        std::set<std::string> files = FilesIn(install_, "*");
        std::string waiting;
        for (const std::string& name : files)
            if (name.rfind("twn", 0) == 0) waiting = name;
        if (row.lockWithoutShareDelete) {
            EXPECT_EQ(3u, files.size()) << "the new copy waits beside the target";
            EXPECT_NE(std::wstring::npos, PendingRenames().find(L"held.dll"));
            DeleteFileA(Path(waiting).c_str());
            ForgetPendingRenames();
        } else {
            EXPECT_EQ((std::set<std::string>{"after.txt", "held.dll"}), files)
                << "no stray copy is left beside the target";
        }
    }
}

TEST_F(EngineWin32, CorruptStreamLeavesTheInstalledFileUntouched) {
    const std::vector<unsigned char> v1 = ReadBytes(ProgramFolder() + "\\v1.dll");
    const std::vector<unsigned char> v2 = ReadBytes(ProgramFolder() + "\\v2.dll");
    ASSERT_TRUE(WriteBytes(Path("tool.dll"), v1));

    WriterPackage package = BasePackage();
    package.entries = {Entry("tool.dll", "<InstallDir>", ENTRY_ALWAYS_REPLACE, v2),
                       Entry("good.txt", "<InstallDir>", ENTRY_ALWAYS_REPLACE, Bytes("good"))};
    std::vector<unsigned char> bytes = Build(package);
    const PackageEntry* entry = reinterpret_cast<const PackageEntry*>(bytes.data() + HEADER_SIZE);
    bytes[entry->streamOffset + entry->compressedSize / 2] ^= 0xFF;

    RunResult run = Apply(bytes);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(1, run.result);
    EXPECT_EQ(v1, ReadBytes(Path("tool.dll")));
    EXPECT_EQ(Bytes("good"), ReadBytes(Path("good.txt")));
    EXPECT_EQ(1u, NewTempFiles().size()) << "no temporary file for data that did not inflate";
}

TEST_F(EngineWin32, ModuleWithoutPackageCompletesWithoutChanges) {
    RunResult run = Apply({}, 0);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(1, run.result);
    EXPECT_EQ(1, g_done);
    EXPECT_TRUE(FilesIn(install_, "*").empty());
    EXPECT_TRUE(NewTempFiles().empty());
}

// --- the worker on a real dialog

std::vector<int>* g_positions;
WNDPROC g_progressProc;

LRESULT CALLBACK RecordPositions(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == PBM_SETPOS && g_positions) g_positions->push_back(static_cast<int>(wParam));
    return CallWindowProcA(g_progressProc, window, message, wParam, lParam);
}

struct TestDialog {
    HWND window = nullptr;
    HWND update = nullptr;
    HWND cancel = nullptr;
    HWND progress = nullptr;
};

int MakeDialog(TestDialog* dialog) {
    InitCommonControls();
    dialog->window = CreateWindowExA(0, "STATIC", "Tidewell engine test dialog", WS_POPUP, 0, 0,
                                     300, 120, nullptr, nullptr, nullptr, nullptr);
    if (!dialog->window) return 0;
    dialog->update = CreateWindowExA(0, "BUTTON", "Update", WS_CHILD, 0, 0, 80, 20, dialog->window,
                                     reinterpret_cast<HMENU>(1000), nullptr, nullptr);
    dialog->cancel = CreateWindowExA(0, "BUTTON", "Cancel", WS_CHILD, 90, 0, 80, 20, dialog->window,
                                     reinterpret_cast<HMENU>(3), nullptr, nullptr);
    dialog->progress =
        CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD, 0, 40, 200, 10, dialog->window,
                        reinterpret_cast<HMENU>(1004), nullptr, nullptr);
    if (!dialog->update || !dialog->cancel || !dialog->progress) return 0;
    SendMessageA(dialog->progress, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    g_progressProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
        dialog->progress, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordPositions)));
    return 1;
}

// Starts the worker as the dialog does and keeps the dialog's messages flowing until it ends.
// `onIdle` is called between messages (to answer a message box).
template <typename OnIdle>
int RunWorker(HWND dialog, OnIdle onIdle) {
    HANDLE thread = CreateThread(nullptr, 0, UpdateWorker, dialog, 0, nullptr);
    if (!thread) return 0;
    DWORD deadline = GetTickCount() + 300000;  // a bound for a hang, minutes on a loaded machine
    int ended = 0;
    while (!ended && GetTickCount() < deadline) {
        DWORD wait = MsgWaitForMultipleObjects(1, &thread, FALSE, 50, QS_ALLINPUT);
        if (wait == WAIT_OBJECT_0) ended = 1;
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        onIdle();
    }
    DWORD exitCode = 1;
    GetExitCodeThread(thread, &exitCode);
    CloseHandle(thread);
    return ended && exitCode == 0;
}

std::string WindowText(HWND window) {
    char text[260] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

TEST_F(EngineWin32, WorkerTakesTheDialogToFinish) {
    TestDialog dialog;
    if (!MakeDialog(&dialog)) GTEST_SKIP() << "no windows can be made here (no display for Wine)";
    std::vector<int> positions;
    g_positions = &positions;

    WriterPackage package = BasePackage();
    package.entries = {Entry("a.txt", "<InstallDir>", 0, Bytes(std::string(100, 'a'))),
                       Entry("b.txt", "<InstallDir>", 0, Bytes(std::string(200, 'b'))),
                       Entry("c.txt", "<InstallDir>", 0, Bytes(std::string(300, 'c')))};
    UsePackage(Build(package));
    ASSERT_TRUE(RunWorker(dialog.window, [] {}));
    g_positions = nullptr;

    EXPECT_EQ(1, g_done);
    EXPECT_EQ("&Finish", WindowText(dialog.update));
    EXPECT_TRUE(IsWindowEnabled(dialog.update));
    EXPECT_FALSE(IsWindowEnabled(dialog.cancel));
    EXPECT_EQ(100, SendMessageA(dialog.progress, PBM_GETPOS, 0, 0));
    EXPECT_EQ((std::vector<int>{0, 16, 50, 100, 100}), positions);
    EXPECT_EQ(Bytes(std::string(300, 'c')), ReadBytes(Path("c.txt")));
    DestroyWindow(dialog.window);
}

LRESULT CALLBACK PlainWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(EngineWin32, RunningApplicationBlocksWithItsMessage) {
    TestDialog dialog;
    if (!MakeDialog(&dialog)) GTEST_SKIP() << "no windows can be made here (no display for Wine)";
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = PlainWindow;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "TidewellEngineTestRunning";
    RegisterClassA(&windowClass);
    HWND running = CreateWindowExA(0, "TidewellEngineTestRunning", "", WS_POPUP, 0, 0, 10, 10,
                                   nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(nullptr, running);

    WriterPackage package = BasePackage();
    package.title = "Tidewell Blocked Title";
    package.runningApps = {{"", ""}, {"TidewellEngineTestRunning", "Close the test app first."}};
    package.entries = {Entry("a.txt", "<InstallDir>", ENTRY_ALWAYS_REPLACE, Bytes("a"))};
    UsePackage(Build(package));

    std::string shown;
    int boxes = 0;
    ASSERT_TRUE(RunWorker(dialog.window, [&] {
        HWND box = FindWindowA("#32770", "Tidewell Blocked Title");
        // The box exists before it is shown and running; an answer then would be lost.
        if (!box || !IsWindowVisible(box)) return;
        char text[512] = "";
        GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
        shown = text;
        ++boxes;
        // The dialog is disabled while its message box is up.
        EXPECT_FALSE(IsWindowEnabled(dialog.window));
        SendMessageA(box, WM_COMMAND, IDOK, 0);
    }));
    DestroyWindow(running);

    EXPECT_EQ(1, boxes);
    EXPECT_EQ("Close the test app first.", shown);
    EXPECT_EQ(0, g_done);
    EXPECT_TRUE(IsWindowEnabled(dialog.update)) << "ready again";
    EXPECT_EQ("Update", WindowText(dialog.update));
    EXPECT_TRUE(IsWindowEnabled(dialog.cancel));
    EXPECT_EQ(0, SendMessageA(dialog.progress, PBM_GETPOS, 0, 0));
    EXPECT_FALSE(Exists(Path("a.txt")));
    DestroyWindow(dialog.window);
}

}  // namespace
