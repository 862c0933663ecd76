// SPDX-License-Identifier: MIT
// What the apply run needs from its surroundings. The Win32 side (engine_win32.cpp) makes
// these the real calls; host tests link a recording fake instead.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "engine/retry.h"
#include "outcome/outcome.h"

// --- the dialog (an HWND); on a missing window every operation does nothing

void EnableUpdateButton(void* dialog, int enable);
void DisableCancelButton(void* dialog);
// Gives the Update button the keyboard focus, so that Return and Space press it.
void FocusUpdateButton(void* dialog);
// Shows `message` (of running application record `app`) with `caption` in a message box owned
// by the dialog and returns when the user has closed it.
void ShowRunningAppMessage(void* dialog, int app, const char* message, const char* caption);
// Puts the run's summary into the explanation line, in the dialog's language; `versionText` is
// the package's version.
void ShowSummary(void* dialog, const RunRecord* record, const char* versionText);
// Sets the Update button's text to the finish string of g_instance.
void ShowFinishText(void* dialog);

// --- the run's record

// Fills `text` (ITEM_TIME_SIZE bytes) with the local time, "YYYY-MM-DDTHH:MM:SS".
void StampTime(char* text);
// 1 when `path` names an existing folder.
int FolderExists(const char* path);

// --- the running-application check

// How many processes, in any session, hold one of the `count` files at `paths` open; their
// names go into `holders` (ITEM_DETAIL_SIZE bytes, "held by name (pid N), ..."). 0 where
// Windows cannot tell (before Vista).
int TargetsHeld(const char* const* paths, int count, char* holders);

// A process that holds one of the run's targets, as Restart Manager reports it.
struct TargetHolder {
    unsigned long pid;
    char name[64];               // its name for people ("Shiosai Notes", "SearchIndexer.exe")
    char image[PATH_TEXT_SIZE];  // the program's full path; empty when it cannot be read
};

// The processes, in any session, that hold one of the `count` files at `paths` open: the first
// `capacity` of them in `holders`. Returns how many hold; 0 where Windows cannot tell (before
// Vista).
int ListTargetHolders(const char* const* paths, int count, TargetHolder* holders, int capacity);

// 1 when the process `pid` has a top-level window of class `windowClass` (an empty class:
// none).
int ProcessHasWindowClass(unsigned long pid, const char* windowClass);

// 1 when a top-level window of class `windowClass` exists. An empty class matches no window.
int IsWindowClassRunning(const char* windowClass);

// --- the package resource of g_instance (RCDATA 1)

// The found resource, or null when the module has none.
void* FindPackageResource();
// The loaded resource, or null.
void* LoadPackageResource(void* found);
// The address of the package's first byte, or null.
const unsigned char* LockPackageResource(void* loaded);
// The package's length in bytes (0 when unknown).
std::uint32_t PackageResourceSize(void* found);
void FreePackageResource(void* loaded);

// --- files
//
// The steps that create, hold, rename or delete a file try again, drawing on `retry` (one budget
// per entry), while Windows answers that another process holds the file (a sharing or lock
// violation, or access denied); any other answer, or the budget spent, counts as a failure.

// Fills `folder` (PATH_TEXT_SIZE bytes) with the user's temporary folder. 1 on success.
int GetTempFolder(char* folder);
// Creates a new file named "vq<hex>.tmp" in `folder`, as GetTempFileNameA with 0 for its unique
// number names it, writes `size` bytes of `data` as its whole content and closes it; its full
// name goes into `name` (PATH_TEXT_SIZE bytes). The file is made new: a file or link that
// another process put under a name is never opened. 1 only when every byte was written; 0
// otherwise, a partly written file removed. Once every name was found taken, no later call
// searches again: each fails at once.
int WriteTempFile(const char* folder, const void* data, std::uint32_t size, char* name,
                  RetryBudget* retry);
// As WriteTempFile, for a file nobody reads during the run: made on the thread pool, from a
// copy of the data, where it can, else now. Adds 1 to `*missed` when it could not be made.
// FinishReplaces waits for it.
void WriteTempFileLater(const char* folder, const void* data, std::uint32_t size,
                        std::atomic<int>* missed);
// 0 only when there is no file at `path` (it or its folder is missing): the version rule's
// answer is then known without reading anything.
int InstalledFileExists(const char* path);
// Keeps the written file at `path` from being changed until ReleaseTempFile, while readers
// may still open it, and checks that it holds exactly `size` bytes of `data`. The held file,
// or null when it could not be held or was changed since it was written.
void* HoldTempFile(const char* path, const void* data, std::uint32_t size, RetryBudget* retry);
void ReleaseTempFile(void* held);
// Puts `size` bytes of `data` at `target` in one step: afterwards `target` is either the file
// it was or a complete copy of the data, never missing or partial, also after a power cut, and
// nothing else is left in the target's folder (a copy that cannot be removed is removed at the
// next restart). The new file keeps the installed one's hidden and system attributes and its
// explicit permissions. The step may finish after the call returns: FinishReplaces waits for
// it, and a later step on the same path (InstalledFileExists, ReplaceTargetFile) waits for it
// itself. 1 when the data was staged beside the target to replace it; 0 when the installed
// file stays for certain. `item` (may be null) gets the outcome when the step finishes: replaced
// or added, kept (read-only, a folder at the target), not written and why, or at the restart
// when the target is held for good and the move could be left to the next restart.
int ReplaceTargetFile(const void* data, std::uint32_t size, const char* target, RetryBudget* retry,
                      RunItem* item);
// 1 when an earlier run left exactly `size` bytes of `data` to take `target`'s place at the next
// restart: staging it again would only leave a second copy waiting.
int WaitsForRestart(const char* target, const void* data, std::uint32_t size);
// Returns when every replace and temporary file started has finished.
void FinishReplaces();

// --- memory for one entry's data

// A zero-filled block of `bytes` bytes, or null.
void* AllocEntryBuffer(std::size_t bytes);
void FreeEntryBuffer(void* buffer);
