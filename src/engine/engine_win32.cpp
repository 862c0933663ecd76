// SPDX-License-Identifier: MIT
// The apply run's surroundings on Windows: the dialog's controls, the package resource, the
// temporary files, the replace and the run-after processes.
#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <cstring>

#include "base/system_path_win32.h"
#include "base/text.h"
#include "engine/breakdown.h"
#include "engine/engine.h"
#include "engine/engine_seam.h"
#include "engine/globals.h"
#include "engine/restart_win32.h"
#include "engine/worker.h"
#include "package/package.h"
#include "package/unicode_texts.h"
#include "resource.h"

namespace {

// Control and string ids of the dialog's resources.
constexpr int IDC_UPDATE_BUTTON = 1000;
constexpr int IDC_CANCEL_BUTTON = 3;
constexpr int IDC_PROGRESS_BAR = 1004;
constexpr int IDC_EXPLAIN_TEXT = 1003;
constexpr UINT IDS_FINISH_TEXT = 110;

HWND Dialog(void* dialog) { return static_cast<HWND>(dialog); }
HMODULE Instance() { return static_cast<HMODULE>(g_instance); }

}  // namespace

DWORD WINAPI UpdateWorker(LPVOID dialog) {
    FreeRunRecord(&g_record);
    RunUpdate(dialog, &g_record);
    PostMessageA(Dialog(dialog), WM_RUN_ENDED, 0, 0);
    ExitThread(0);
    return 0;
}

// --- the dialog

void EnableUpdateButton(void* dialog, int enable) {
    EnableWindow(GetDlgItem(Dialog(dialog), IDC_UPDATE_BUTTON), enable ? TRUE : FALSE);
}

void DisableCancelButton(void* dialog) {
    EnableWindow(GetDlgItem(Dialog(dialog), IDC_CANCEL_BUTTON), FALSE);
}

#ifdef TIDEWELL_BENCH_BREAKDOWN
namespace {

volatile LONG64 g_breakdownTicks[STEP_COUNT];
volatile LONG g_breakdownCalls[STEP_COUNT];

const char* const BREAKDOWN_NAMES[STEP_COUNT] = {
    "run (wall)",    "buffer",         "inflate",      "vq create",    "vq write",
    "vq close",      "version exists", "version hold", "version read", "attributes read",
    "security read", "staged create",  "staged write", "security set", "pool queue",
    "pool wait",     "flush",          "staged close", "rename",       "progress",
    "shortcuts"};

}  // namespace

long long BreakdownNow() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

void BreakdownAdd(BreakdownStep step, long long start) {
    LONG64 ticks = BreakdownNow() - start;
    // The pool's threads add theirs at the same time as the run's thread.
    LONG64 seen = g_breakdownTicks[step];
    for (;;) {
        LONG64 was = InterlockedCompareExchange64(&g_breakdownTicks[step], seen + ticks, seen);
        if (was == seen) break;
        seen = was;
    }
    InterlockedIncrement(&g_breakdownCalls[step]);
}

BreakdownTimer::BreakdownTimer(BreakdownStep step) : step_(step), start_(BreakdownNow()) {}

BreakdownTimer::~BreakdownTimer() { BreakdownAdd(step_, start_); }

// One line per step: its name, how often it ran and its total in milliseconds, appended to
// the file TIDEWELL_BENCH_BREAKDOWN_FILE names; nothing without it.
void WriteBreakdown() {
    char path[PATH_TEXT_SIZE];
    DWORD length = GetEnvironmentVariableA("TIDEWELL_BENCH_BREAKDOWN_FILE", path, sizeof path);
    if (length == 0 || length >= sizeof path) return;
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    for (int i = 0; i < STEP_COUNT; ++i) {
        char line[128];
        // In microseconds: TextFormat has no floating point to rely on.
        unsigned long long micros = static_cast<unsigned long long>(g_breakdownTicks[i]) *
                                    1000000ull /
                                    static_cast<unsigned long long>(frequency.QuadPart);
        DWORD written = 0;
        if (TextFormat(line, sizeof line, "%s\t%ld\t%llu.%03llu\n", BREAKDOWN_NAMES[i],
                       static_cast<long>(g_breakdownCalls[i]), micros / 1000, micros % 1000))
            WriteFile(file, line, lstrlenA(line), &written, nullptr);
    }
    CloseHandle(file);
}
#endif

int SetProgress(void* dialog, int position) {
    // Waiting for the dialog's thread to paint the bar cost a small entry more than its
    // inflating, so most positions are not waited for. Every tenth point is: the run is then
    // never far ahead of what the bar shows, nor of a close pressed on seeing it. Sent rather
    // than posted, so each comes before the completion's messages.
    static int waitedTens = 0;
    HWND bar = GetDlgItem(Dialog(dialog), IDC_PROGRESS_BAR);
    if (position / 10 != waitedTens || position == 0) {
        waitedTens = position / 10;
        SendMessageA(bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    } else {
        SendNotifyMessageA(bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    }
    return 1;
}

void FocusUpdateButton(void* dialog) {
    // Through the dialog, on its own thread: the worker cannot set another thread's focus, and
    // the button it disabled at the start has lost it.
    SendMessageA(Dialog(dialog), WM_NEXTDLGCTL,
                 reinterpret_cast<WPARAM>(GetDlgItem(Dialog(dialog), IDC_UPDATE_BUTTON)), TRUE);
}

void ShowRunningAppMessage(void* dialog, int app, const char* message, const char* caption) {
    // The UTF-16 texts beside the package read right on every code page; without them the
    // package's own, as Windows reads them in its code page.
    wchar_t wideMessage[UNICODE_TEXT_MAX_UNITS + 1], wideCaption[UNICODE_TEXT_MAX_UNITS + 1];
    int haveMessage = LoadUnicodeText(Instance(), UTEXT_MESSAGE, static_cast<std::uint16_t>(app), 0,
                                      wideMessage, UNICODE_TEXT_MAX_UNITS + 1);
    int haveCaption =
        LoadUnicodeText(Instance(), UTEXT_TITLE, 0, 0, wideCaption, UNICODE_TEXT_MAX_UNITS + 1);
    if (!haveMessage && !haveCaption) {
        MessageBoxA(Dialog(dialog), message, caption, MB_OK | MB_ICONINFORMATION);
        return;
    }
    if (!haveMessage)
        MultiByteToWideChar(CP_ACP, 0, message, -1, wideMessage, UNICODE_TEXT_MAX_UNITS + 1);
    if (!haveCaption)
        MultiByteToWideChar(CP_ACP, 0, caption, -1, wideCaption, UNICODE_TEXT_MAX_UNITS + 1);
    MessageBoxW(Dialog(dialog), wideMessage, wideCaption, MB_OK | MB_ICONINFORMATION);
}

void ShowFinishText(void* dialog) {
    // As Unicode, like the other texts of the dialog: "終了(&F)" on any code page.
    wchar_t text[PATH_TEXT_SIZE];
    // A module without the string keeps the button's text rather than blanking it.
    if (LoadStringW(Instance(), IDS_FINISH_TEXT, text, PATH_TEXT_SIZE) > 0)
        SetDlgItemTextW(Dialog(dialog), IDC_UPDATE_BUTTON, text);
}

void ShowSummary(void* dialog, const RunRecord* record, const char* versionText) {
    Summary summary = SummarizeRun(record);
    if (summary.kind == SUMMARY_KIND_COUNT) return;
    wchar_t sentence[DIALOG_TEXT_SIZE];
    wchar_t version[VERSION_TEXT_SIZE];
    wchar_t text[DIALOG_TEXT_SIZE];
    if (LoadStringW(Instance(), IDS_SUMMARY_FIRST + summary.kind, sentence, DIALOG_TEXT_SIZE) <= 0)
        return;
    if (!LoadUnicodeText(Instance(), UTEXT_VERSION, 0, 0, version, VERSION_TEXT_SIZE) &&
        MultiByteToWideChar(CP_ACP, 0, versionText, -1, version, VERSION_TEXT_SIZE) <= 0)
        version[0] = L'\0';
    if (FillSummary(text, DIALOG_TEXT_SIZE, sentence, summary, version))
        SetDlgItemTextW(Dialog(dialog), IDC_EXPLAIN_TEXT, text);
}

// --- the run's record

void StampTime(char* text) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    TextFormat(text, ITEM_TIME_SIZE, "%04u-%02u-%02uT%02u:%02u:%02u", now.wYear, now.wMonth,
               now.wDay, now.wHour, now.wMinute, now.wSecond);
}

int FolderExists(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int IsWindowClassRunning(const char* windowClass) {
    // An unused record must match nothing, whatever FindWindowA makes of an empty class.
    if (windowClass[0] == '\0') return 0;
    return FindWindowA(windowClass, nullptr) != nullptr;
}

// --- the package resource

void* FindPackageResource() {
    return FindResourceA(Instance(), MAKEINTRESOURCEA(PACKAGE_RESOURCE_ID),
                         MAKEINTRESOURCEA(PACKAGE_RESOURCE_TYPE));
}

void* LoadPackageResource(void* found) {
    return LoadResource(Instance(), static_cast<HRSRC>(found));
}

const unsigned char* LockPackageResource(void* loaded) {
    return static_cast<const unsigned char*>(LockResource(static_cast<HGLOBAL>(loaded)));
}

std::uint32_t PackageResourceSize(void* found) {
    return SizeofResource(Instance(), static_cast<HRSRC>(found));
}

void FreePackageResource(void* loaded) { FreeResource(static_cast<HGLOBAL>(loaded)); }

// --- files

int GetTempFolder(char* folder) {
    // Asked for as Unicode: a user name the code page cannot spell would come back from
    // GetTempPathA with "?" in it, a folder that does not exist.
    wchar_t wide[PATH_TEXT_SIZE];
    DWORD length = GetTempPathW(PATH_TEXT_SIZE, wide);
    // A result of the buffer's size or more is the size it would need: nothing was written.
    if (length == 0 || length >= PATH_TEXT_SIZE) return 0;
    return SystemPathToAnsi(wide, folder);
}

namespace {

// Whether access denied may pass for the step that got it. It does where another process
// holds an existing file with delete sharing refused (a scanner on the target or the staged
// copy); it does not where it is the answer of the folder or of the file's permissions.
enum AccessDenied { DENIED_FOR_GOOD, DENIED_FOR_A_MOMENT };

// 1 when the step that failed with `error` is worth trying again: another process (a virus
// scanner, the indexer, a backup agent) may hold the file for a moment. The wait is taken
// from the entry's budget; 0 when the failure is of another kind, the time is spent or the
// dialog has closed.
int WaitToRetry(DWORD error, RetryBudget* retry, AccessDenied denied = DENIED_FOR_GOOD) {
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION &&
        (error != ERROR_ACCESS_DENIED || denied != DENIED_FOR_A_MOMENT))
        return 0;
    if (g_stopping) return 0;
    DWORD delay = NextRetryDelay(retry);
    if (delay == 0) return 0;
    Sleep(delay);
    return 1;
}

// Defined with the replaces in flight, below.
void WaitForReplaceOf(const char* target);

// The last unique number tried, shared by every name this process makes.
LONG g_unique = 0;

// Creates a new file "<folder><prefix><hex>.tmp", as GetTempFileNameA does with 0 for its unique
// number, and keeps it open for writing: no second open, no link followed (CREATE_NEW refuses
// any name that exists, links included). The handle, or INVALID_HANDLE_VALUE, with `*allTaken`
// (when given) set where every one of the 65,535 names was tried and found taken.
HANDLE CreateUniqueFile(const char* folder, const char* prefix, DWORD access, DWORD share,
                        DWORD attributes, char* name, RetryBudget* retry, int* allTaken = nullptr) {
    if (allTaken) *allTaken = 0;
    // Started from the clock, as GetTempFileNameA starts, so that runs seldom meet.
    InterlockedCompareExchange(&g_unique, static_cast<LONG>(GetTickCount() & 0xFFFF), 0);
    DWORD previous = ERROR_SUCCESS;
    for (int attempt = 0; attempt < 0x10000; ++attempt) {
        unsigned unique = static_cast<unsigned>(InterlockedIncrement(&g_unique)) & 0xFFFF;
        if (unique == 0) continue;
        if (!TextFormat(name, PATH_TEXT_SIZE, "%s%s%X.tmp", folder, prefix, unique)) {
            // The caller reads why: never the answer of some earlier call.
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return INVALID_HANDLE_VALUE;
        }
        HANDLE file = CreateFileA(name, access, share, nullptr, CREATE_NEW, attributes, nullptr);
        if (file != INVALID_HANDLE_VALUE) return file;
        DWORD error = GetLastError();
        // A fresh name answers "access denied" for a moment only while a file of that name is
        // still being deleted, so the next name is tried at once; a second one in a row is the
        // folder's own answer (no right to add files there), which no wait changes.
        if (error == ERROR_ACCESS_DENIED && previous == ERROR_ACCESS_DENIED) {
            name[0] = '\0';
            return INVALID_HANDLE_VALUE;
        }
        previous = error;
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS &&
            error != ERROR_ACCESS_DENIED && !WaitToRetry(error, retry)) {
            name[0] = '\0';
            return INVALID_HANDLE_VALUE;
        }
    }
    if (allTaken) *allTaken = 1;
    name[0] = '\0';
    return INVALID_HANDLE_VALUE;
}

// 1 when `file` is one plain file with one name: no directory, no reparse point, no second
// hard link through which a write would land in another file.
int IsPlainFile(HANDLE file, BY_HANDLE_FILE_INFORMATION* info) {
    return GetFileInformationByHandle(file, info) && info->nNumberOfLinks == 1 &&
           !(info->dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
}

// Very large single writes fail on network shares and 32-bit kernels
// (ERROR_NO_SYSTEM_RESOURCES), so data goes in pieces of this many bytes.
constexpr std::uint32_t WRITE_PIECE = 4u << 20;

// Writes all of `data` at the file's current position; 1 only when every byte went. A staged
// copy stops half-way when the dialog closes: it will not take the target's place anyway.
int WriteAll(HANDLE file, const void* data, std::uint32_t size) {
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    std::uint32_t done = 0;
    do {
        DWORD piece = size - done < WRITE_PIECE ? size - done : WRITE_PIECE;
        DWORD written = 0;
        if (!WriteFile(file, bytes + done, piece, &written, nullptr) || written != piece) return 0;
        done += piece;
    } while (done < size && !g_stopping);
    return done == size;
}

// Writes `data` as the whole of the new file and closes it; 1 only when all of it went.
int WriteAndClose(HANDLE file, const void* data, std::uint32_t size) {
    int wrote;
    {
        BENCH_STEP(STEP_VQ_WRITE);
        wrote = WriteAll(file, data, size);
    }
    BENCH_STEP(STEP_VQ_CLOSE);
    return CloseHandle(file) && wrote;
}

// 1 when the rest of `file` from its current position is exactly `size` bytes of `data`.
int HoldsExactly(HANDLE file, const void* data, std::uint32_t size) {
    const unsigned char* expected = static_cast<const unsigned char*>(data);
    unsigned char chunk[16384];
    std::uint32_t done = 0;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, chunk, sizeof chunk, &got, nullptr)) return 0;
        if (got == 0) return done == size;
        if (got > size - done || std::memcmp(chunk, expected + done, got) != 0) return 0;
        done += got;
    }
}

// The attributes the installed file keeps, the ones CreateFileA takes for a new file;
// read-only is refused earlier.
constexpr DWORD KEPT_ATTRIBUTES = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// Reads the installed file's security descriptor (its DACL) into `room` when it fits, else
// into a block of its own, to be freed with LocalFree when it is not `room`. Null, with the
// reason as the last error, when it cannot be read.
PSECURITY_DESCRIPTOR ReadSecurity(const char* target, void* room, DWORD roomSize) {
    DWORD needed = 0;
    if (GetFileSecurityA(target, DACL_SECURITY_INFORMATION, room, roomSize, &needed)) return room;
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return nullptr;
    PSECURITY_DESCRIPTOR descriptor = LocalAlloc(LMEM_FIXED, needed);
    if (!descriptor) return nullptr;
    if (GetFileSecurityA(target, DACL_SECURITY_INFORMATION, descriptor, needed, &needed))
        return descriptor;
    DWORD error = GetLastError();
    LocalFree(descriptor);
    SetLastError(error);
    return nullptr;
}

// What the staged copy must be given of the installed file's permissions: in `*security` the
// descriptor when it has an entry of its own or is protected from its folder's (freed with
// LocalFree when it is not `room`), null when it only inherits what the copy beside it inherits
// anyway or the file system keeps none.
PermissionsOfTarget TargetPermissions(const char* target, void* room, DWORD roomSize,
                                      PSECURITY_DESCRIPTOR* security) {
    BENCH_STEP(STEP_SECURITY_READ);
    *security = ReadSecurity(target, room, roomSize);
    DWORD error = *security ? ERROR_SUCCESS : GetLastError();
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    int read = 0, own = 0;
    if (*security && GetSecurityDescriptorControl(*security, &control, &revision) &&
        GetSecurityDescriptorDacl(*security, &present, &acl, &defaulted)) {
        read = 1;
        // No DACL at all (everyone has every right) is the installer's choice too.
        if (present) own = (control & SE_DACL_PROTECTED) != 0 || !acl;
        for (DWORD i = 0; present && !own && i < acl->AceCount; ++i) {
            ACE_HEADER* ace = nullptr;
            if (!GetAce(acl, i, reinterpret_cast<void**>(&ace))) read = 0;
            own = !read || !(ace->AceFlags & INHERITED_ACE);
        }
    }
    PermissionsOfTarget decided = DecidePermissions(read, error, own);
    if (decided != PERMISSIONS_COPIED && *security) {
        if (*security != room) LocalFree(*security);
        *security = nullptr;
    }
    return decided;
}

}  // namespace

namespace {

// Set once a search found every "vq" name taken: the rest of the run makes no temporary file
// rather than trying 65,535 names again for each entry.
volatile LONG g_tempNamesTaken = 0;

}  // namespace

int WriteTempFile(const char* folder, const void* data, std::uint32_t size, char* name,
                  RetryBudget* retry) {
    name[0] = '\0';
    if (g_tempNamesTaken) return 0;
    HANDLE file;
    int allTaken;
    {
        BENCH_STEP(STEP_VQ_CREATE);
        file = CreateUniqueFile(folder, "vq", GENERIC_WRITE, FILE_SHARE_READ, FILE_ATTRIBUTE_NORMAL,
                                name, retry, &allTaken);
    }
    if (allTaken) InterlockedExchange(&g_tempNamesTaken, 1);
    if (file == INVALID_HANDLE_VALUE) return 0;
    if (WriteAndClose(file, data, size)) return 1;
    // Not the packaged file's bytes: no temporary file rather than a wrong one.
    DeleteFileA(name);
    name[0] = '\0';
    return 0;
}

int InstalledFileExists(const char* path) {
    WaitForReplaceOf(path);
    BENCH_STEP(STEP_VERSION_EXISTS);
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) return 1;
    // Any other failure (no access, say) leaves the question to the version rule.
    DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

void* HoldTempFile(const char* path, const void* data, std::uint32_t size, RetryBudget* retry) {
    // Read access shared for reading only: the version reader can still open the file, while
    // nobody can write, rename or delete it until it is released. The check then reads what
    // the rule will read. A scanner looking at the file just written is waited for.
    HANDLE file;
    do {
        file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    } while (file == INVALID_HANDLE_VALUE && WaitToRetry(GetLastError(), retry));
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    BY_HANDLE_FILE_INFORMATION info;
    if (IsPlainFile(file, &info) && info.nFileSizeHigh == 0 && info.nFileSizeLow == size &&
        HoldsExactly(file, data, size))
        return file;
    CloseHandle(file);
    return nullptr;
}

void ReleaseTempFile(void* held) { CloseHandle(static_cast<HANDLE>(held)); }

namespace {

// Flushing a staged copy waits for the disk. The flushes of several copies, overlapping one
// another and the next entries' inflating and writing, cost far less than one after another;
// each rename still follows its own copy's flush. So up to REPLACES_IN_FLIGHT replaces are
// finished on the thread pool while the run goes on.
constexpr LONG REPLACES_IN_FLIGHT = 8;

struct Replace {
    volatile LONG busy;  // set by the run's thread, cleared by the pool thread that finishes it
    HANDLE file;         // the staged copy, written whole, still open for writing
    RunItem* item;       // where the outcome goes; may be null
    ItemOutcome done;    // OUTCOME_REPLACED or OUTCOME_ADDED
    char staged[PATH_TEXT_SIZE];
    char target[PATH_TEXT_SIZE];
    RetryBudget retry;  // what the entry's earlier steps left of its budget
};

// Only the run's worker thread starts replaces and waits for them.
Replace g_replaces[REPLACES_IN_FLIGHT];
HANDLE g_freeReplaces = nullptr;  // a semaphore: how many of g_replaces are free

// The staged copy the worker is writing, while g_writingStaged is 1: with the busy replaces,
// what a run ended by the dialog may still have to remove.
char g_writing[PATH_TEXT_SIZE];
volatile LONG g_writingStaged = 0;

// Removes a staged copy another thread may still hold open: at the next restart then.
void RemoveStagedNow(const char* staged) {
    if (!DeleteFileA(staged) && GetLastError() != ERROR_FILE_NOT_FOUND)
        MoveFileExA(staged, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

// Removes a staged copy that did not take the target's place.
void RemoveStaged(const char* staged, RetryBudget* retry) {
    while (!DeleteFileA(staged)) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) return;
        // The run made the copy, so it may delete it: a refusal is a scanner holding it.
        if (!WaitToRetry(error, retry, DENIED_FOR_A_MOMENT)) {
            // Still held: gone at the next restart rather than left in the product's folder.
            MoveFileExA(staged, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
            return;
        }
    }
}

// Why a rename over `target` was refused with access denied: DENIED_FOR_A_MOMENT while another
// process holds it with delete sharing refused, DENIED_FOR_GOOD where the account may not
// remove it at all (its permissions, a file Windows protects).
AccessDenied WhyRenameDenied(const char* target) {
    HANDLE file =
        CreateFileA(target, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return DENIED_FOR_A_MOMENT;
    }
    return GetLastError() == ERROR_ACCESS_DENIED ? DENIED_FOR_GOOD : DENIED_FOR_A_MOMENT;
}

void SetOutcome(RunItem* item, ItemOutcome outcome) {
    if (item) item->outcome = outcome;
}

// The outcome `outcome` of a step Windows refused with `error`, which the log names. The error
// is in place before the outcome, which another thread may be waiting to read.
void SetFailure(RunItem* item, DWORD error, ItemOutcome outcome) {
    if (!item) return;
    item->error = error;
    std::atomic_thread_fence(std::memory_order_release);
    item->outcome = outcome;
}

void SetFailure(RunItem* item, DWORD error) { SetFailure(item, error, OutcomeOfError(error)); }

// A target held for good (the product running in another session, a service): where the
// process may (elevated) and the volume can (not a network share), the flushed staged copy
// takes its place at the next restart. 1 when that was arranged.
int ReplaceAtRestart(const char* staged, const char* target) {
    // On a share the entry would be written and never carried out: not done, rather than a
    // restart that changes nothing.
    if (!RenamesAtRestart(target)) return 0;
    return MoveFileExA(staged, target, MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING);
}

// Flushes, closes and renames the staged copy over the target; on failure removes the copy.
// The outcome goes to `item`: `done` when the new file is in place.
void CompleteReplace(HANDLE file, const char* staged, const char* target, RetryBudget* retry,
                     RunItem* item, ItemOutcome done) {
    int ready = 1;
    DWORD error = ERROR_SUCCESS;
#ifndef TIDEWELL_BENCH_NO_FLUSH
    {
        BENCH_STEP(STEP_FLUSH);
        // The data must be on the disk before the rename is: NTFS may commit the rename first,
        // and a power cut would then leave a target of the right size full of zeros.
        if (!FlushFileBuffers(file)) {
            error = GetLastError();
            ready = FlushFailureAllowsRename(error);
        }
    }
#endif
    {
        BENCH_STEP(STEP_STAGED_CLOSE);
        ready = CloseHandle(file) && ready;
    }
    BENCH_STEP(STEP_RENAME);
    // The staged copy counts as well: a scanner opens a file the moment it is closed.
    int renamed = 0;
    AccessDenied denied = DENIED_FOR_GOOD;
    while (ready && !(renamed = MoveFileExA(staged, target,
                                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))) {
        error = GetLastError();
        denied = error == ERROR_ACCESS_DENIED ? WhyRenameDenied(target) : DENIED_FOR_GOOD;
        ready = WaitToRetry(error, retry, denied);
    }
    if (renamed) {
        SetOutcome(item, done);
        SupersedeRestartRenames(target);
        return;
    }
    ItemOutcome outcome = OutcomeOfError(error);
    // Access denied while the target may be deleted is another process holding it.
    if (error == ERROR_ACCESS_DENIED && denied == DENIED_FOR_A_MOMENT) outcome = OUTCOME_IN_USE;
    // The log names what holds it, where Windows can tell.
    if (outcome == OUTCOME_IN_USE && item) TargetsHeld(&target, 1, item->detail);
    if (outcome == OUTCOME_IN_USE && !g_stopping && ReplaceAtRestart(staged, target)) {
        SetOutcome(item, OUTCOME_AT_RESTART);
        return;
    }
    SetFailure(item, error, outcome);
    RemoveStaged(staged, retry);
}

DWORD WINAPI CompleteOnPool(LPVOID parameter) {
    Replace* replace = static_cast<Replace*>(parameter);
    CompleteReplace(replace->file, replace->staged, replace->target, &replace->retry, replace->item,
                    replace->done);
    InterlockedExchange(&replace->busy, 0);
    ReleaseSemaphore(g_freeReplaces, 1, nullptr);
    return 0;
}

// Returns once no replace of `target` is in flight, so that entries sharing a target keep
// their order. An unfinished replace of another target is not waited for.
void WaitForReplaceOf(const char* target) {
    for (const Replace& replace : g_replaces) {
        if (replace.busy && lstrcmpiA(replace.target, target) == 0) {
            FinishReplaces();
            return;
        }
    }
}

// Hands the written staged copy to the pool; finishes it here when it cannot.
void StartCompleteReplace(HANDLE file, const char* staged, const char* target, RetryBudget* retry,
                          RunItem* item, ItemOutcome done) {
    if (!g_freeReplaces)
        g_freeReplaces = CreateSemaphoreA(nullptr, REPLACES_IN_FLIGHT, REPLACES_IN_FLIGHT, nullptr);
    BENCH_START(waitStart);
    if (g_freeReplaces && WaitForSingleObject(g_freeReplaces, INFINITE) == WAIT_OBJECT_0) {
        BENCH_STOP(STEP_POOL_WAIT, waitStart);
        BENCH_STEP(STEP_POOL_QUEUE);
        for (Replace& replace : g_replaces) {
            if (replace.busy) continue;
            replace.busy = 1;
            replace.file = file;
            lstrcpynA(replace.staged, staged, PATH_TEXT_SIZE);
            lstrcpynA(replace.target, target, PATH_TEXT_SIZE);
            replace.retry = *retry;
            replace.item = item;
            replace.done = done;
            if (QueueUserWorkItem(CompleteOnPool, &replace, WT_EXECUTELONGFUNCTION)) return;
            replace.busy = 0;
            break;
        }
        ReleaseSemaphore(g_freeReplaces, 1, nullptr);
    }
    CompleteReplace(file, staged, target, retry, item, done);
}

// A temporary file nobody reads during the run is made on the pool, as the staged copies are
// finished there: Windows' scanners check a program file when it is closed, and Wine looks a
// new name up by reading the whole folder. It is made from a copy of the data, at most
// TEMP_FILES_IN_FLIGHT at a time and each of at most TEMP_COPY_LIMIT bytes, so the copies hold
// a few MiB at most; a larger file is made on the run's thread, where its writing outweighs
// the create.
constexpr LONG TEMP_FILES_IN_FLIGHT = 8;
constexpr std::uint32_t TEMP_COPY_LIMIT = 1u << 20;

struct TempFileJob {
    volatile LONG busy;  // set by the run's thread, cleared by the pool thread that made it
    void* data;          // the job's own copy
    std::uint32_t size;
    char folder[PATH_TEXT_SIZE];
    std::atomic<int>* missed;
};

TempFileJob g_tempJobs[TEMP_FILES_IN_FLIGHT];
HANDLE g_freeTempJobs = nullptr;  // a semaphore: how many of g_tempJobs are free

void MakeTempFileNow(const char* folder, const void* data, std::uint32_t size,
                     std::atomic<int>* missed) {
    char name[PATH_TEXT_SIZE];
    RetryBudget retry;
    StartRetryBudget(&retry);
    if (!WriteTempFile(folder, data, size, name, &retry)) ++*missed;
}

DWORD WINAPI TempFileOnPool(LPVOID parameter) {
    TempFileJob* job = static_cast<TempFileJob*>(parameter);
    MakeTempFileNow(job->folder, job->data, job->size, job->missed);
    LocalFree(job->data);
    job->data = nullptr;
    InterlockedExchange(&job->busy, 0);
    ReleaseSemaphore(g_freeTempJobs, 1, nullptr);
    return 0;
}

// Hands the file to the pool; 0 when it cannot take it.
int StartTempFileOnPool(const char* folder, const void* data, std::uint32_t size,
                        std::atomic<int>* missed) {
    if (size > TEMP_COPY_LIMIT) return 0;
    if (!g_freeTempJobs)
        g_freeTempJobs =
            CreateSemaphoreA(nullptr, TEMP_FILES_IN_FLIGHT, TEMP_FILES_IN_FLIGHT, nullptr);
    if (!g_freeTempJobs || WaitForSingleObject(g_freeTempJobs, INFINITE) != WAIT_OBJECT_0) return 0;
    for (TempFileJob& job : g_tempJobs) {
        if (job.busy) continue;
        job.data = LocalAlloc(LMEM_FIXED, size ? size : 1);
        if (job.data && TextCopy(job.folder, sizeof job.folder, folder)) {
            std::memcpy(job.data, data, size);
            job.size = size;
            job.missed = missed;
            job.busy = 1;
            if (QueueUserWorkItem(TempFileOnPool, &job, WT_EXECUTELONGFUNCTION)) return 1;
            job.busy = 0;
        }
        LocalFree(job.data);
        job.data = nullptr;
        break;
    }
    ReleaseSemaphore(g_freeTempJobs, 1, nullptr);
    return 0;
}

// Returns once every slot of `slots` (a semaphore of `count`) is free again.
void WaitForAll(HANDLE slots, LONG count) {
    if (!slots) return;
    for (LONG i = 0; i < count; ++i) WaitForSingleObject(slots, INFINITE);
    ReleaseSemaphore(slots, count, nullptr);
}

}  // namespace

void WriteTempFileLater(const char* folder, const void* data, std::uint32_t size,
                        std::atomic<int>* missed) {
    if (g_tempNamesTaken) {
        ++*missed;
        return;
    }
    if (!StartTempFileOnPool(folder, data, size, missed))
        MakeTempFileNow(folder, data, size, missed);
}

void RemoveUnfinishedStaged() {
    if (g_writingStaged) RemoveStagedNow(g_writing);
    for (const Replace& replace : g_replaces)
        if (replace.busy) RemoveStagedNow(replace.staged);
}

void FinishReplaces() {
    if (!g_freeReplaces && !g_freeTempJobs) return;
    BENCH_STEP(STEP_POOL_WAIT);
    // Every slot taken back means every job handed off has finished.
    WaitForAll(g_freeReplaces, REPLACES_IN_FLIGHT);
    WaitForAll(g_freeTempJobs, TEMP_FILES_IN_FLIGHT);
}

int ReplaceTargetFile(const void* data, std::uint32_t size, const char* target, RetryBudget* retry,
                      RunItem* item) {
    // Whatever leaves below without a word leaves the target as it was.
    SetOutcome(item, OUTCOME_NOT_WRITTEN);
    // The new copy is made beside the target, so that the rename over it stays on one volume
    // and is a single step: a failed write or a process ended half-way never touches the target.
    char folder[PATH_TEXT_SIZE];
    if (!TextCopy(folder, sizeof folder, target)) return 0;
    char* lastBackslash = const_cast<char*>(FindLastBackslash(folder));
    if (!lastBackslash) return 0;
    lastBackslash[1] = '\0';
    WaitForReplaceOf(target);

    // Windows refuses to delete or overwrite a read-only file; the rename must not be the
    // one way around that (Wine's rename allows it). A folder at the target is never replaced:
    // the rename's access denied for it would only be waited for.
    DWORD attributes;
    DWORD attributesError;
    {
        BENCH_STEP(STEP_ATTRIBUTES_READ);
        attributes = GetFileAttributesA(target);
        attributesError = GetLastError();
    }
    // Only a target that is not there has nothing for the copy to keep. Any other failure (a
    // network hiccup, a read refused) would lose its hidden and system attributes and its own
    // permissions if the rename then went through: the installed file stays.
    if (attributes == INVALID_FILE_ATTRIBUTES && attributesError != ERROR_FILE_NOT_FOUND &&
        attributesError != ERROR_PATH_NOT_FOUND) {
        SetFailure(item, attributesError);
        return 0;
    }
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))) {
        SetOutcome(item, attributes & FILE_ATTRIBUTE_DIRECTORY ? OUTCOME_KEPT_FOLDER
                                                               : OUTCOME_KEPT_READ_ONLY);
        return 0;
    }
    if (g_stopping) return 0;

    // What Windows kept on the installed file goes onto the copy before it takes its place:
    // the rename would otherwise leave the new file with the folder's defaults.
    DWORD keep = attributes == INVALID_FILE_ATTRIBUTES ? 0 : attributes & KEPT_ATTRIBUTES;
    // DWORD-aligned, as a security descriptor must be.
    DWORD room[256];
    PSECURITY_DESCRIPTOR security = nullptr;
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        TargetPermissions(target, room, sizeof room, &security) == PERMISSIONS_UNREADABLE) {
        SetFailure(item, GetLastError(), OUTCOME_DENIED);
        return 0;
    }

    char staged[PATH_TEXT_SIZE];
    HANDLE file;
    {
        BENCH_STEP(STEP_STAGED_CREATE);
        // WRITE_DAC only for permissions to put on: a share that lets its users change files
        // but not permissions refuses every create that asks for it.
        file = CreateUniqueFile(folder, "twn", GENERIC_WRITE | (security ? WRITE_DAC : 0), 0,
                                keep ? keep : FILE_ATTRIBUTE_NORMAL, staged, retry);
    }
    if (file == INVALID_HANDLE_VALUE) {
        SetFailure(item, GetLastError());
        if (security && security != room) LocalFree(security);
        return 0;
    }
    lstrcpynA(g_writing, staged, PATH_TEXT_SIZE);
    InterlockedExchange(&g_writingStaged, 1);
    int ready;
    {
        BENCH_STEP(STEP_STAGED_WRITE);
        ready = WriteAll(file, data, size);
    }
    if (ready && security) {
        BENCH_STEP(STEP_SECURITY_SET);
        ready = SetKernelObjectSecurity(file, DACL_SECURITY_INFORMATION, security);
    }
    if (security && security != room) LocalFree(security);
    // A copy whole only after the dialog closed is not handed on: the run is ending.
    if (!ready || g_stopping) {
        if (!ready) SetFailure(item, GetLastError());
        CloseHandle(file);
        RemoveStaged(staged, retry);
        InterlockedExchange(&g_writingStaged, 0);
        return 0;
    }
    SetOutcome(item, OUTCOME_PENDING);
    StartCompleteReplace(file, staged, target, retry, item,
                         attributes == INVALID_FILE_ATTRIBUTES ? OUTCOME_ADDED : OUTCOME_REPLACED);
    InterlockedExchange(&g_writingStaged, 0);
    return 1;
}

// --- memory

void* AllocEntryBuffer(std::size_t bytes) { return LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, bytes); }

void FreeEntryBuffer(void* buffer) { LocalFree(buffer); }

// --- processes

// cb is 68 in the 32-bit program the package is made for.
static_assert(sizeof(void*) != 4 || sizeof(STARTUPINFOA) == 68, "STARTUPINFOA layout");

RunAfterResult RunAndWait(const char* path, unsigned long limitMs, unsigned long* exitCode) {
    *exitCode = 0;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;

    // The program is named exactly, so a path with blanks never starts "C:\Program.exe";
    // quoted on the command line, the program sees no arguments.
    char commandLine[PATH_TEXT_SIZE + 2];
    if (!TextFormat(commandLine, sizeof commandLine, "\"%s\"", path)) return RUN_NOT_STARTED;
    // Started in its own folder: the update program's is usually where the patch was
    // downloaded, and the program's DLL search still looks in its current folder (the update's
    // SetDefaultDllDirectories is its own), so a DLL planted there would run with our rights.
    // Nor does it keep our error mode, which a relaunched product would otherwise run with.
    char folder[PATH_TEXT_SIZE];
    if (!FolderOfFile(path, folder)) return RUN_NOT_STARTED;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(path, commandLine, nullptr, nullptr, FALSE, CREATE_DEFAULT_ERROR_MODE,
                        nullptr, folder, &startup, &process))
        return RUN_NOT_STARTED;
    // Waiting on the process itself: an exit code of 259 (STILL_ACTIVE) cannot keep us here.
    DWORD waited = WaitForSingleObject(process.hProcess, limitMs);
    DWORD code = 0;
    if (waited == WAIT_OBJECT_0 && GetExitCodeProcess(process.hProcess, &code)) *exitCode = code;
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return waited == WAIT_OBJECT_0 ? RUN_ENDED : RUN_STILL_RUNNING;
}
