// SPDX-License-Identifier: MIT
#include "engine/engine.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>

#include "base/text.h"
#include "engine/breakdown.h"
#include "engine/engine_seam.h"
#include "engine/globals.h"
#include "engine/inflate.h"
#include "package/package.h"
#include "rules/targets.h"
#include "rules/version.h"
#include "rules/version_image.h"
#include "shortcuts/shortcuts.h"

namespace {

// The entries with a target in the run so far, and those left without a temporary file; the
// pool adds to the second.
struct TempFileCount {
    int entries;
    std::atomic<int> missing;
};
TempFileCount g_tempFiles;

struct PathText {
    char text[PATH_TEXT_SIZE];
};

// Target paths of the entries to run after the copy, in entry order. The first
// RUN_AFTER_CAPACITY live in the run's own slots; a package that marks more entries gets a
// list of its own size, so every marked program runs.
struct RunAfterList {
    PathText slots[RUN_AFTER_CAPACITY];
    PathText* paths;
    int capacity;
    int count;
};

void InitRunAfterList(RunAfterList* list, int needed) {
    list->paths = list->slots;
    list->capacity = RUN_AFTER_CAPACITY;
    list->count = 0;
    if (needed > RUN_AFTER_CAPACITY) {
        // calloc rather than new: the program carries no C++ run-time library (see README).
        PathText* paths = static_cast<PathText*>(std::calloc(needed, sizeof(PathText)));
        // Without the memory only the first RUN_AFTER_CAPACITY can be kept.
        if (paths) {
            list->paths = paths;
            list->capacity = needed;
        }
    }
}

void AddRunAfter(RunAfterList* list, const char* path) {
    if (list->count >= list->capacity) return;
    if (TextCopy(list->paths[list->count].text, PATH_TEXT_SIZE, path)) ++list->count;
}

void FreeRunAfterList(RunAfterList* list) {
    if (list->paths != list->slots) std::free(list->paths);
    list->paths = list->slots;
}

// The header's text at `field`, or the empty text when it runs off the package.
const char* TextOrEmpty(const PackageImage& image, const char* field) {
    const char* text = PackageText(image, field);
    return text ? text : "";
}

// Step 4: the first listed application that has a window, or -1.
int FindRunningApp(const PackageImage& image, const PackageHeader& header) {
    for (int k = 0; k < RUNNING_APP_COUNT; ++k) {
        if (IsWindowClassRunning(TextOrEmpty(image, header.runningApps[k].windowClass))) return k;
    }
    return -1;
}

// The readable entries: the loop stops at the first record past the package, since every
// later one lies further on.
void SumEntries(const PackageImage& image, std::uint32_t* totalBytes, int* runAfterCount) {
    *totalBytes = 0;
    *runAfterCount = 0;
    const PackageEntry* entry;
    for (std::int32_t i = 0; GetPackageEntry(image, i, &entry); ++i) {
        *totalBytes += entry->size;  // modulo 2^32, as the bar's arithmetic expects
        if (entry->flags & ENTRY_RUN_AFTER) ++*runAfterCount;
    }
}

// Inflates the entry's stream into `buffer`; 1 only when it is a whole zlib stream inside the
// package that gives exactly `size` bytes. Anything else must never reach the target.
int InflateEntry(Inflater* inflater, const PackageImage& image, const PackageEntry& entry,
                 unsigned char* buffer) {
    const unsigned char* stream;
    if (!inflater || !GetEntryStream(image, entry, &stream)) return 0;
    return InflateZlibStream(inflater, stream, entry.compressedSize, buffer, entry.size);
}

struct RunFolders {
    const char* installDir;  // null: "<InstallDir>" targets have no place
    const char* tempFolder;  // null: no temporary file can be made
    Inflater* inflater;      // null: no stream can be inflated
};

// Steps c to g for one entry.
void ApplyEntry(const PackageImage& image, const PackageEntry& entry, const RunFolders& folders,
                RunAfterList* runAfter) {
    // On 32-bit Windows size + 1 can wrap to 0, a block smaller than the data.
    std::size_t bytes = static_cast<std::size_t>(entry.size) + 1;
    if (bytes == 0) return;
    unsigned char* buffer;
    {
        BENCH_STEP(STEP_BUFFER);
        buffer = static_cast<unsigned char*>(AllocEntryBuffer(bytes));
    }
    if (!buffer) return;

    int inflated;
    {
        BENCH_STEP(STEP_INFLATE);
        inflated = InflateEntry(folders.inflater, image, entry, buffer);
    }

    const char* fileName = PackageText(image, entry.fileName);
    const char* folder = PackageText(image, entry.folder);
    char targetPath[PATH_TEXT_SIZE];
    if (fileName && folder && ResolveTargetPath(fileName, folder, folders.installDir, targetPath)) {
        ++g_tempFiles.entries;
        // Damaged data is treated as a temporary file that could not be made: the installed
        // file stays, while the run-after and shortcuts still act on whatever is at the target.
        // The installed copy is always written from the run's own data: the temporary file
        // lies in a folder that processes without the run's rights can write to, and the
        // entry is applied whether or not that folder takes a file.
        RetryBudget retry;
        StartRetryBudget(&retry);
        if (!inflated) {
            ++g_tempFiles.missing;
        } else if (!(entry.flags & ENTRY_ALWAYS_REPLACE) && InstalledFileExists(targetPath)) {
            // The version rule reads the temporary file, held unchangeable and checked against
            // the data; without one, the packaged copy's version is read from the data itself.
            char tempFile[PATH_TEXT_SIZE];
            int replace;
            if (folders.tempFolder &&
                WriteTempFile(folders.tempFolder, buffer, entry.size, tempFile, &retry)) {
                void* held;
                {
                    BENCH_STEP(STEP_VERSION_HOLD);
                    held = HoldTempFile(tempFile, buffer, entry.size, &retry);
                }
                {
                    BENCH_STEP(STEP_VERSION_READ);
                    replace = held && IsNewerOrSame(tempFile, targetPath);
                }
                if (held) {
                    BENCH_STEP(STEP_VERSION_HOLD);
                    ReleaseTempFile(held);
                }
            } else {
                ++g_tempFiles.missing;
                BENCH_STEP(STEP_VERSION_READ);
                replace = IsNewerOrSameImage(buffer, entry.size, targetPath);
            }
            if (replace) ReplaceTargetFile(buffer, entry.size, targetPath, &retry);
        } else {
            // Without an installed file the rule replaces whatever the packaged copy says, so
            // nothing reads the temporary file during the run.
            if (folders.tempFolder)
                WriteTempFileLater(folders.tempFolder, buffer, entry.size, &g_tempFiles.missing);
            else
                ++g_tempFiles.missing;
            ReplaceTargetFile(buffer, entry.size, targetPath, &retry);
        }
        if (entry.flags & ENTRY_RUN_AFTER) AddRunAfter(runAfter, targetPath);
        const char* shortcutText = PackageText(image, entry.shortcutText);
        if (shortcutText && shortcutText[0] != '\0' && !g_stopping) {
            // The shortcut is made to the file in its place.
            FinishReplaces();
            BENCH_STEP(STEP_SHORTCUTS);
            ApplyShortcutSpecs(shortcutText, targetPath);
        }
    }
    BENCH_STEP(STEP_BUFFER);
    FreeEntryBuffer(buffer);
}

// Step 11: the move records behind the last entry's stream, in record order.
void ApplyMoves(const PackageImage& image, std::uint32_t tableOffset) {
    std::int32_t moveCount;
    if (!GetMoveCount(image, tableOffset, &moveCount)) return;
    for (std::int32_t r = 0; r < moveCount; ++r) {
        const ShortcutMoveRecord* record;
        if (!GetMoveRecord(image, tableOffset, r, &record)) return;
        const char* from = PackageText(image, record->from);
        const char* to = PackageText(image, record->to);
        // An unreadable `to` must not count as "does not resolve", which would delete.
        if (from && to) MoveShortcut(from, to);
    }
}

// Steps 5 to 11, with the package held.
void ApplyPackage(void* dialog, const PackageImage& image, const PackageHeader& header) {
    char installDir[PATH_TEXT_SIZE];
    char tempFolder[PATH_TEXT_SIZE];
    RunFolders folders;
    folders.installDir = ResolveInstallDir(image, header, installDir) ? installDir : nullptr;

    std::uint32_t totalBytes;
    int runAfterCount;
    SumEntries(image, &totalBytes, &runAfterCount);

    folders.tempFolder = GetTempFolder(tempFolder) ? tempFolder : nullptr;

    folders.inflater = OpenInflater();

    RunAfterList runAfter;
    InitRunAfterList(&runAfter, runAfterCount);
    std::uint32_t doneBytes = 0;
    std::uint32_t moveTable = 0;
    int haveMoveTable = 0;
    BENCH_START(runStart);
    if (header.entryCount > 0) {
        const float divisor = ProgressDivisor(totalBytes);
        int position = 0;
        const PackageEntry* entry;
        for (std::int32_t i = 0;
             i < header.entryCount && !g_stopping && GetPackageEntry(image, i, &entry); ++i) {
            doneBytes += entry->size;
            if (i == header.entryCount - 1)
                haveMoveTable = GetMoveTableOffset(image, *entry, &moveTable);
            ApplyEntry(image, *entry, folders, &runAfter);
            // Done bytes wrap only when the sizes add up past 4 GiB; the bar still never
            // goes back. The bar is told only when it moves: each message crosses to the
            // dialog's thread and waits for it, the dearest step of a small entry.
            int next = ProgressPosition(doneBytes, divisor);
            if (next > position) {
                position = next;
                BENCH_STEP(STEP_PROGRESS);
                SetProgress(dialog, position);
            }
        }
    }

    if (folders.inflater) CloseInflater(folders.inflater);
    FinishReplaces();
    BENCH_STOP(STEP_RUN, runStart);
    BENCH_WRITE();

    // A run the dialog was closed on starts nothing more on the user's machine.
    for (int k = 0; k < runAfter.count && !g_stopping; ++k) RunAndWait(runAfter.paths[k].text);
    FreeRunAfterList(&runAfter);

    if (haveMoveTable && !g_stopping) ApplyMoves(image, moveTable);
}

void Complete(void* dialog) {
    SetProgress(dialog, 100);
    g_done = 1;
    ShowFinishText(dialog);
    EnableUpdateButton(dialog, 1);
    DisableCancelButton(dialog);
    FocusUpdateButton(dialog);
}

}  // namespace

float ProgressDivisor(std::uint32_t totalBytes) {
    // volatile: the x87 unit would otherwise keep the total in more than float precision.
    volatile float divisor = static_cast<float>(totalBytes);
    return divisor;
}

int ProgressPosition(std::uint32_t doneBytes, float divisor) {
    if (divisor == 0.0f) return 0;
    // Each step rounded to double, also where the x87 unit would carry more precision.
    volatile double quotient = static_cast<double>(doneBytes) / static_cast<double>(divisor);
    volatile double position = quotient * 100.0;
    // Only done bytes that wrapped past a wrapped total come here; the bar ends at 100.
    if (position >= 100.0) return 100;
    return static_cast<int>(position);
}

void StopRun() { g_stopping = 1; }

RunTempFiles LastRunTempFiles() {
    RunTempFiles record;
    record.entries = g_tempFiles.entries;
    record.withoutTempFile = g_tempFiles.missing.load();
    return record;
}

int RunUpdate(void* dialog) {
    g_tempFiles.entries = 0;
    g_tempFiles.missing = 0;
    EnableUpdateButton(dialog, 0);
    SetProgress(dialog, 0);

    void* found = FindPackageResource();
    if (found) {
        void* loaded = LoadPackageResource(found);
        if (!loaded) return 0;
        const unsigned char* data = LockPackageResource(loaded);
        if (!data) {
            FreePackageResource(loaded);
            return 0;
        }
        PackageImage image{data, PackageResourceSize(found)};
        const PackageHeader* header;
        // Too short to hold its header: nothing in it can be read, so the run stops as for
        // a package that does not load.
        if (!GetPackageHeader(image, &header)) {
            FreePackageResource(loaded);
            return 0;
        }
        int running = FindRunningApp(image, *header);
        if (running >= 0) {
            ShowRunningAppMessage(dialog, TextOrEmpty(image, header->runningApps[running].message),
                                  TextOrEmpty(image, header->title));
            EnableUpdateButton(dialog, 1);
            FreePackageResource(loaded);
            return 0;
        }
        ApplyPackage(dialog, image, *header);
        FreePackageResource(loaded);
    }

    Complete(dialog);
    return 1;
}
