// SPDX-License-Identifier: MIT
// What the hardening tests share: a product installed in folders of their own, copies of the
// real Tidewell.exe carrying a given package, and that program started and driven through its
// dialog from the test's own process, as a user would press its buttons.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

// --- files and folders

// The Windows path of a path fixed at build time: a Unix path is reached through drive Z:.
std::string WindowsPath(const std::string& buildPath);
Bytes ReadBytes(const std::string& path);
int WriteBytes(const std::string& path, const Bytes& bytes);
int Exists(const std::string& path);
// Creates `folder` and every missing parent.
void MakeFolderChain(const std::string& folder);
// Deletes the folder and everything in it, read-only files included.
void RemoveTree(const std::string& folder);
// Names of the files in `folder` that match `pattern` ("*.lnk").
std::vector<std::string> FilesIn(const std::string& folder, const std::string& pattern);
// FNV-1a, 64 bits: enough to tell a file's versions apart.
std::uint64_t HashOf(const Bytes& bytes);
// Bytes that deflate poorly, so that inflating and writing them takes real time.
Bytes NoiseBytes(std::size_t size, std::uint32_t seed);
// Bytes that deflate well: text lines naming `tag`.
Bytes TextBytes(std::size_t size, const std::string& tag);

// The all-users Programs folder, where "<ProgramMenu>" shortcuts go.
std::string ProgramMenuFolder();

// --- the registry

// HKCU\`subKey`, value InstallDir = `folder`. 1 on success.
int SetInstallDir(const std::string& subKey, const std::string& folder);
// Deletes HKCU\`subKey`, and its parent when that is left empty.
void DeleteKey(const std::string& subKey);

// --- the program

// The file name every copy of the program gets in these tests.
constexpr char PROGRAM_NAME[] = "TidewellHarden.exe";

// Makes Wine show the windows of PROGRAM_NAME unmanaged: without a window manager on the X
// server, each managed window's end waits two seconds for a withdrawal that never comes.
// Only programs of that name are touched, for this Wine user.
void UnmanagedWindows();
// Takes that setting away again.
void ForgetUnmanagedWindows();

// Copies `templateExe` to `exe` and makes `package` its RCDATA 1 (language 1033).
int MakeProgram(const std::string& templateExe, const std::string& exe, const Bytes& package);

struct Program {
    PROCESS_INFORMATION process = {};
    HWND dialog = nullptr;
};

// The dialog's state as the user sees it.
struct DialogView {
    int exists = 0;
    int updateEnabled = 0;
    int cancelEnabled = 0;
    int progress = -1;
};

// Starts `exe` with its temporary folder set to `tempFolder` (so its "vq" files are ours to
// remove) and waits for its dialog. 1 when the dialog is up.
int StartProgram(const std::string& exe, const std::string& tempFolder, Program* program);
DialogView ReadDialog(HWND dialog);
// Presses button `id` of the dialog (BM_CLICK, posted).
void Press(HWND dialog, int id);
// The close box.
void CloseBox(HWND dialog);
// How long a wait for the program may take before it counts as a failure: a bound for a
// program that hangs, never a pace, so minutes, as a loaded machine may need.
constexpr DWORD WAIT_LIMIT_MS = 300000;

// Waits until the run is done: Finish enabled, Cancel disabled, the bar at 100.
int WaitForDone(const Program& program, DWORD limitMs);

// Waits until no run is in progress: the dialog lets a logoff through only then.
int WaitForRunEnd(const Program& program, DWORD limitMs);

// Waits until a staged copy ("twn*.tmp") of at least `bytes` bytes is in `folder`: the run is
// inside a large file. 0 when the dialog reached done or went away first.
int WaitForStagedCopy(const Program& program, const std::string& folder, std::uint64_t bytes,
                      DWORD limitMs);
// Waits until the bar reads at least `position` (or the dialog is gone).
int WaitForBar(const Program& program, int position, DWORD limitMs);
// Waits for the process to end; 1 with its exit code, 0 when it did not end in time.
int WaitForExit(const Program& program, DWORD limitMs, DWORD* exitCode);
// Ends the process at once, as TerminateProcess does, and waits for it.
void Terminate(const Program& program);
void Release(Program* program);

constexpr int IDC_UPDATE_BUTTON = 1000;
constexpr int IDC_CANCEL_BUTTON = 3;
constexpr int IDC_PROGRESS_BAR = 1004;

// The X display the dialog needs; empty when there is none.
std::string DisplayName();
