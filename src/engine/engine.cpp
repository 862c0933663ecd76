// SPDX-License-Identifier: MIT
#include "engine/engine.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/text.h"
#include "engine/breakdown.h"
#include "engine/engine_seam.h"
#include "engine/globals.h"
#include "engine/inflate.h"
#include "extras/extras_run.h"
#include "outcome/outcome.h"
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

// Adds an item stamped with the time, and tells the record's hook (the log); null when it could
// not be recorded. An item whose outcome is still to come is recorded OUTCOME_PENDING.
RunItem* Record(RunRecord* record, ItemKind kind, ItemOutcome outcome, const char* path,
                const char* detail = nullptr, unsigned long error = 0) {
    RunItem* item = RecordItem(record, kind, outcome, path, detail);
    if (item) {
        StampTime(item->time);
        item->error = error;
    }
    NotifyRecord(record);
    return item;
}

void SetOutcome(RunItem* item, ItemOutcome outcome) {
    if (item) item->outcome = outcome;
}

// The package or its steps cannot be applied: nothing is written, and the log says why.
void RecordCannotApply(RunRecord* record, const char* why) {
    Record(record, ITEM_PACKAGE, OUTCOME_CANNOT_APPLY, nullptr, why);
    SetEarlyEnd(record, END_NOT_DONE);
}

void ReportShortcut(void* context, ItemKind kind, ItemOutcome outcome, const char* path,
                    const char* detail) {
    Record(static_cast<RunRecord*>(context), kind, outcome, path, detail);
}

// 1 when an entry's folder text begins with "<InstallDir>": it needs the product's folder.
int NeedsInstallDir(const char* folder) { return folder && BeginsWithName(folder, "<InstallDir>"); }

// Why an entry got no target: its folder names no known place, or the path cannot be made.
ItemOutcome NoTargetOutcome(const char* folder) {
    static const char* const placeholders[] = {"<InstallDir>", "<WindowsDir>", "<SystemDir>"};
    for (const char* name : placeholders)
        if (folder && BeginsWithName(folder, name)) return OUTCOME_SKIPPED_TOO_LONG;
    return OUTCOME_SKIPPED_PLACEHOLDER;
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
    const char* installDir;   // null: "<InstallDir>" targets have no place
    const char* tempFolder;   // null: no temporary file can be made
    Inflater* inflater;       // null: no stream can be inflated
    const ExtrasRun* extras;  // the folders the steps were to create
};

// Steps c to g for one entry.
void ApplyEntry(const PackageImage& image, const PackageEntry& entry, const RunFolders& folders,
                RunAfterList* runAfter, RunRecord* record) {
    const char* fileName = PackageText(image, entry.fileName);
    const char* folder = PackageText(image, entry.folder);
    RunItem* item = Record(record, ITEM_FILE, OUTCOME_PENDING, fileName);
    // On 32-bit Windows size + 1 can wrap to 0, a block smaller than the data.
    std::size_t bytes = static_cast<std::size_t>(entry.size) + 1;
    unsigned char* buffer = nullptr;
    if (bytes != 0) {
        BENCH_STEP(STEP_BUFFER);
        buffer = static_cast<unsigned char*>(AllocEntryBuffer(bytes));
    }
    if (!buffer) {
        if (item) item->error = 8;  // ERROR_NOT_ENOUGH_MEMORY
        SetOutcome(item, OUTCOME_NOT_WRITTEN);
        return;
    }

    int inflated;
    {
        BENCH_STEP(STEP_INFLATE);
        inflated = InflateEntry(folders.inflater, image, entry, buffer);
    }

    char targetPath[PATH_TEXT_SIZE];
    int hasTarget =
        fileName && folder && ResolveTargetPath(fileName, folder, folders.installDir, targetPath);
    if (!hasTarget) SetOutcome(item, NoTargetOutcome(folder));
    if (hasTarget) {
        if (item) TextCopy(item->path, sizeof item->path, targetPath);
        ++g_tempFiles.entries;
        // Damaged data is treated as a temporary file that could not be made: the installed
        // file stays, while the run-after and shortcuts still act on whatever is at the target.
        // The installed copy is always written from the run's own data: the temporary file
        // lies in a folder that processes without the run's rights can write to, and the
        // entry is applied whether or not that folder takes a file.
        RetryBudget retry;
        StartRetryBudget(&retry);
        int waiting = inflated && WaitsForRestart(targetPath, buffer, entry.size);
        if (!inflated || waiting) {
            SetOutcome(item, inflated ? OUTCOME_AT_RESTART : OUTCOME_DAMAGED);
            ++g_tempFiles.missing;
        } else if (!(entry.flags & ENTRY_ALWAYS_REPLACE) && InstalledFileExists(targetPath)) {
            // The version rule reads the temporary file, held unchangeable and checked against
            // the data; without one, the packaged copy's version is read from the data itself.
            char* versions = item ? item->detail : nullptr;
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
                    replace = held && IsNewerOrSameWithVersions(tempFile, targetPath, versions,
                                                                ITEM_DETAIL_SIZE);
                }
                if (held) {
                    BENCH_STEP(STEP_VERSION_HOLD);
                    ReleaseTempFile(held);
                }
                // A temporary file changed since it was written decides nothing: not written.
                if (!replace) SetOutcome(item, held ? OUTCOME_KEPT_VERSION : OUTCOME_NOT_WRITTEN);
            } else {
                ++g_tempFiles.missing;
                BENCH_STEP(STEP_VERSION_READ);
                replace =
                    IsNewerOrSameImage(buffer, entry.size, targetPath, versions, ITEM_DETAIL_SIZE);
                if (!replace) SetOutcome(item, OUTCOME_KEPT_VERSION);
            }
            if (replace) ReplaceTargetFile(buffer, entry.size, targetPath, &retry, item);
        } else {
            // Without an installed file the rule replaces whatever the packaged copy says, so
            // nothing reads the temporary file during the run.
            if (folders.tempFolder)
                WriteTempFileLater(folders.tempFolder, buffer, entry.size, &g_tempFiles.missing);
            else
                ++g_tempFiles.missing;
            ReplaceTargetFile(buffer, entry.size, targetPath, &retry, item);
        }
        // A folder missing because the run failed to make it is no part left uninstalled.
        if (item && item->outcome == OUTCOME_SKIPPED_NO_FOLDER && folders.extras &&
            InFolderNotMade(*folders.extras, folders.installDir, targetPath))
            SetOutcome(item, OUTCOME_NOT_WRITTEN);
        if (entry.flags & ENTRY_RUN_AFTER) AddRunAfter(runAfter, targetPath);
        const char* shortcutText = PackageText(image, entry.shortcutText);
        if (shortcutText && shortcutText[0] != '\0' && !g_stopping) {
            // The shortcut is made to the file in its place, and only where there is one.
            FinishReplaces();
            BENCH_STEP(STEP_SHORTCUTS);
            if (InstalledFileExists(targetPath)) {
                ShortcutReport report = {ReportShortcut, record};
                ApplyShortcutSpecs(shortcutText, targetPath, &report);
            } else {
                Record(record, ITEM_SHORTCUT, OUTCOME_NO_TARGET, targetPath);
            }
        }
    }
    BENCH_STEP(STEP_BUFFER);
    FreeEntryBuffer(buffer);
}

// Step 11: the move records behind the last entry's stream, in record order.
void ApplyMoves(const PackageImage& image, std::uint32_t tableOffset, RunRecord* run) {
    ShortcutReport report = {ReportShortcut, run};
    std::int32_t moveCount;
    if (!GetMoveCount(image, tableOffset, &moveCount)) return;
    for (std::int32_t r = 0; r < moveCount; ++r) {
        const ShortcutMoveRecord* record;
        if (!GetMoveRecord(image, tableOffset, r, &record)) return;
        const char* from = PackageText(image, record->from);
        const char* to = PackageText(image, record->to);
        // An unreadable `to` must not count as "does not resolve", which would delete.
        if (from && to) MoveShortcut(from, to, &report);
    }
}

// 1 when some entry goes under "<InstallDir>": the package is then for a product that must be
// installed.
int AnyEntryNeedsInstallDir(const PackageImage& image) {
    const PackageEntry* entry;
    for (std::int32_t i = 0; GetPackageEntry(image, i, &entry); ++i)
        if (NeedsInstallDir(PackageText(image, entry->folder))) return 1;
    return 0;
}

// 1 when `holder` is one of the product's own programs: its image lies in the install folder,
// or it has a window of a listed application's class.
int IsProductHolder(const TargetHolder& holder, const char* installDir, const PackageImage& image,
                    const PackageHeader& header) {
    char folder[PATH_TEXT_SIZE];
    if (installDir && TextCopy(folder, sizeof folder, installDir)) {
        DropTrailingBackslash(folder);
        std::size_t length = std::strlen(folder);
        if (length > 0 && BeginsWithName(holder.image, folder) && holder.image[length] == '\\')
            return 1;
    }
    for (int k = 0; k < RUNNING_APP_COUNT; ++k)
        if (ProcessHasWindowClass(holder.pid,
                                  TextOrEmpty(image, header.runningApps[k].windowClass)))
            return 1;
    return 0;
}

// Unattended, nobody closes the product: 1 when one of its own programs, in any session, holds
// one of the targets, recorded with its name; the run then writes nothing. Anything else that
// holds a file (a scanner, the indexer, a preview) is let be: the retries outlast most of them,
// and a file still held is replaced at the restart, as Windows Installer does.
int ProductHoldsTarget(const PackageImage& image, const PackageHeader& header,
                       const char* installDir, RunRecord* record) {
    std::int32_t count = 0;
    const PackageEntry* entry;
    while (GetPackageEntry(image, count, &entry)) ++count;
    if (count == 0) return 0;
    constexpr int HOLDERS_READ = 32;
    PathText* targets = static_cast<PathText*>(std::calloc(count, sizeof(PathText)));
    const char** paths = static_cast<const char**>(std::calloc(count, sizeof(const char*)));
    TargetHolder* holders =
        static_cast<TargetHolder*>(std::calloc(HOLDERS_READ, sizeof(TargetHolder)));
    int given = 0, held = 0;
    if (targets && paths && holders) {
        for (std::int32_t i = 0; i < count && GetPackageEntry(image, i, &entry); ++i) {
            const char* fileName = PackageText(image, entry->fileName);
            const char* folder = PackageText(image, entry->folder);
            if (fileName && folder &&
                ResolveTargetPath(fileName, folder, installDir, targets[given].text)) {
                paths[given] = targets[given].text;
                ++given;
            }
        }
        int listed = ListTargetHolders(paths, given, holders, HOLDERS_READ);
        char named[ITEM_DETAIL_SIZE] = "";
        for (int i = 0; i < listed && i < HOLDERS_READ; ++i) {
            if (!IsProductHolder(holders[i], installDir, image, header)) continue;
            char one[PATH_TEXT_SIZE];
            if (TextFormat(one, sizeof one, "%s%s (pid %lu)", held ? ", " : "held by ",
                           holders[i].name[0] ? holders[i].name : holders[i].image, holders[i].pid))
                TextAppend(named, sizeof named, one);
            held = 1;
        }
        if (held) Record(record, ITEM_FILE, OUTCOME_IN_USE, installDir, named);
    }
    std::free(targets);
    std::free(paths);
    std::free(holders);
    return held;
}

// The run's outcome of a step beside the package; refusals keep their reason for the log.
ItemOutcome OutcomeOfExtra(ExtraOutcome outcome) {
    switch (outcome) {
        case EXTRA_NOT_RUN:
            return OUTCOME_NOT_REACHED;
        case EXTRA_CREATED:
            return OUTCOME_CREATED;
        case EXTRA_ALREADY_THERE:
            return OUTCOME_ALREADY_THERE;
        case EXTRA_REMOVED:
            return OUTCOME_REMOVED;
        case EXTRA_NOT_THERE:
            return OUTCOME_NOT_THERE;
        case EXTRA_AT_RESTART:
            return OUTCOME_AT_RESTART;
        case EXTRA_SET:
            return OUTCOME_SET;
        case EXTRA_KEY_MISSING:
            return OUTCOME_KEY_MISSING;
        case EXTRA_ENTRIES_NOT_DONE:
            return OUTCOME_SKIPPED_NOT_ALL_DONE;
        case EXTRA_FAILED:
            return OUTCOME_FAILED;
        case EXTRA_EARLIER_FAILED:
            return OUTCOME_SKIPPED_EARLIER_FAILED;
        default:
            return OUTCOME_REFUSED;
    }
}

// Step `index` of the steps (folders, removals, values in one count) with its outcome.
void RecordExtra(RunRecord* record, const ExtrasRun& extras, std::int32_t index, ItemKind kind,
                 ExtraOutcome outcome, const char* path) {
    ItemOutcome item = OutcomeOfExtra(outcome);
    const char* word = ExtraOutcomeWord(outcome);
    Record(record, kind, item, path,
           item == OUTCOME_REFUSED && std::strncmp(word, "refused: ", 9) == 0 ? word + 9 : nullptr,
           outcome == EXTRA_FAILED ? ExtraError(extras, index) : 0);
}

void RecordFolders(const ExtrasRun& extras, RunRecord* record) {
    const FolderRecord* folder;
    for (std::int32_t i = 0; i < extras.folderCount; ++i)
        RecordExtra(record, extras, i, ITEM_FOLDER, FolderOutcome(extras, i),
                    GetFolderRecord(extras.image, i, &folder) ? folder->folder : nullptr);
}

void RecordRemovalsAndValues(const ExtrasRun& extras, RunRecord* record) {
    const RemovalRecord* removal;
    for (std::int32_t i = 0; i < extras.removalCount; ++i)
        RecordExtra(record, extras, extras.folderCount + i, ITEM_REMOVAL, RemovalOutcome(extras, i),
                    GetRemovalRecord(extras.image, i, &removal) ? removal->target : nullptr);
    const RegistryRecord* value;
    for (std::int32_t i = 0; i < extras.registryCount; ++i) {
        char name[ITEM_PATH_SIZE] = "";
        if (GetRegistryRecord(extras.image, i, &value))
            TextFormat(name, sizeof name, "%s\\%s", value->key, value->valueName);
        RecordExtra(record, extras, extras.folderCount + extras.removalCount + i, ITEM_VALUE,
                    ValueOutcome(extras, i), name);
    }
}

// 1 when no item recorded so far ended not done: a value set after a failed step would claim
// an update that did not happen.
int NothingFailed(const RunRecord* record) {
    for (int i = 0; i < record->itemCount; ++i) {
        OutcomeClass outcomeClass = OutcomeClassOf(RecordedItem(record, i)->outcome);
        if (outcomeClass == CLASS_NOT_DONE || outcomeClass == CLASS_DISK_FULL) return 0;
    }
    return record->lostItems == 0;
}

// Where the install folder came from, for the log: the registry value and its view, or the
// package's default folder. `installDir` null: none; `exists` 0: it names no folder there.
void RecordInstallDir(const PackageImage& image, const PackageHeader& header,
                      const char* installDir, int exists, const InstallDirSource& source,
                      RunRecord* record) {
    char detail[ITEM_DETAIL_SIZE];
    if (source.fromRegistry)
        TextFormat(detail, sizeof detail, "registry %s\\%s, %s view",
                   TextOrEmpty(image, header.registryKey), TextOrEmpty(image, header.valueName),
                   source.view || sizeof(void*) == 8 ? "64-bit" : "32-bit");
    else
        TextFormat(detail, sizeof detail, "the package's default folder: the registry names none");
    Record(record, ITEM_INSTALL_DIR, exists ? OUTCOME_FOUND : OUTCOME_NOT_FOUND,
           installDir ? installDir : "", installDir || source.fromRegistry ? detail : nullptr);
}

// The number of entry records the package holds, which must be all its header counts.
std::int32_t ReadableEntries(const PackageImage& image, const PackageHeader& header) {
    std::int32_t count = 0;
    const PackageEntry* entry;
    while (count < header.entryCount && GetPackageEntry(image, count, &entry)) ++count;
    return count;
}

// Removals and values need every entry's file in place (written, kept by the rule, in a part
// not installed, or waiting for the restart): an older program may need a removed file, and a
// value would claim a version not installed.
int EveryEntryInPlace(const RunRecord* record, std::int32_t entryCount) {
    std::int32_t files = 0;
    for (int i = 0; i < record->itemCount; ++i) {
        const RunItem* item = RecordedItem(record, i);
        if (item->kind != ITEM_FILE) continue;
        ++files;
        OutcomeClass outcomeClass = OutcomeClassOf(item->outcome);
        if (outcomeClass != CLASS_DONE && outcomeClass != CLASS_NORMAL &&
            outcomeClass != CLASS_RESTART)
            return 0;
    }
    return files == entryCount && record->lostItems == 0;
}

// Steps 5 to 11, with the package held.
void ApplyPackage(void* dialog, const PackageImage& image, const PackageHeader& header,
                  RunRecord* record) {
    char installDir[PATH_TEXT_SIZE];
    char tempFolder[PATH_TEXT_SIZE];
    RunFolders folders;
    // A table cut short is a damaged package: applying the part that is there would leave a
    // release that never existed.
    std::int32_t readable = ReadableEntries(image, header);
    if (header.entryCount > 0 && readable < header.entryCount) {
        char why[ITEM_DETAIL_SIZE];
        TextFormat(why, sizeof why, "entry table cut short: %ld of %ld entries in the package",
                   static_cast<long>(readable), static_cast<long>(header.entryCount));
        RecordCannotApply(record, why);
        return;
    }
    // The steps beside the package are read before anything is written: damaged ones mean a
    // release that cannot be applied whole.
    ExtrasRun extras;
    switch (OpenExtras(&extras)) {
        case EXTRAS_DAMAGED:
            RecordCannotApply(record, "the steps beside the package (RCDATA 2) are damaged");
            return;
        case EXTRAS_NO_MEMORY:
            RecordCannotApply(record, "no memory for the outcomes of the steps beside the package");
            return;
        case EXTRAS_NONE:
        case EXTRAS_READ:
            break;
    }

    unsigned registryView;
    InstallDirSource source;
    folders.installDir = ResolveInstallDirView(image, header, installDir, &registryView, &source)
                             ? installDir
                             : nullptr;
    int installDirExists = folders.installDir && FolderExists(installDir);
    RecordInstallDir(image, header, folders.installDir, installDirExists, source, record);
    folders.extras = &extras;
    // Without the product's folder nothing of the package belongs anywhere: nothing is written,
    // and the run says so instead of ending as if it had updated something.
    if (!installDirExists && AnyEntryNeedsInstallDir(image)) {
        SetEarlyEnd(record, END_PRODUCT_NOT_FOUND);
        CloseExtras(&extras);
        return;
    }
    // The window-class check sees only this session; an agent's run asks Windows as well.
    if (g_unattended && ProductHoldsTarget(image, header, folders.installDir, record)) {
        SetEarlyEnd(record, END_APP_RUNNING);
        CloseExtras(&extras);
        return;
    }

    // Folders the package asks for (a resource beside it) are made before any entry needs them.
    CreateExtraFolders(&extras, folders.installDir);
    RecordFolders(extras, record);

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
            ApplyEntry(image, *entry, folders, &runAfter, record);
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
    record->withoutTempFile = g_tempFiles.missing.load();
    BENCH_STOP(STEP_RUN, runStart);
    BENCH_WRITE();

    if (!g_stopping)
        FinishExtras(&extras, folders.installDir, registryView,
                     EveryEntryInPlace(record, header.entryCount > 0 ? header.entryCount : 0),
                     NothingFailed(record));
    RecordRemovalsAndValues(extras, record);
    CloseExtras(&extras);

    // A run the dialog was closed on starts nothing more on the user's machine.
    for (int k = 0; k < runAfter.count && !g_stopping; ++k) {
        unsigned long exitCode = 0;
        // Recorded before it starts: a run ended while it waits still logs all before it.
        RunItem* item = Record(record, ITEM_RUN_AFTER, OUTCOME_PENDING, runAfter.paths[k].text);
        // Unattended, nobody closes it: it is waited for a bounded time, then left running.
        RunAfterResult ran =
            RunAndWait(runAfter.paths[k].text,
                       g_unattended ? RUN_AFTER_UNATTENDED_MS : RUN_WAIT_FOREVER, &exitCode);
        ItemOutcome outcome = ran == RUN_ENDED           ? OUTCOME_RAN
                              : ran == RUN_STILL_RUNNING ? OUTCOME_LEFT_RUNNING
                                                         : OUTCOME_NOT_STARTED;
        if (item && ran == RUN_STILL_RUNNING)
            TextFormat(item->detail, sizeof item->detail, "not ended within %lu s",
                       RUN_AFTER_UNATTENDED_MS / 1000);
        if (item) item->code = static_cast<long>(exitCode);
        EndItem(record, item, outcome);
    }
    FreeRunAfterList(&runAfter);

    if (haveMoveTable && !g_stopping) ApplyMoves(image, moveTable, record);
    if (g_stopping) record->cancelled = 1;
}

void Complete(void* dialog, const RunRecord* record, const char* versionText) {
    // A full bar would say something was done; without the product nothing was written.
    SetProgress(dialog, record->early == END_PRODUCT_NOT_FOUND ? 0 : 100);
    ShowSummary(dialog, record, versionText);
    g_done = 1;
    ShowFinishText(dialog);
    EnableUpdateButton(dialog, 1);
    DisableCancelButton(dialog);
    FocusUpdateButton(dialog);
}

// A package that is there but cannot be read: nothing was done.
int Stopped(RunRecord* record, const char* why) {
    RecordCannotApply(record, why);
    return 0;
}

// RunUpdate with its record.
int ApplyUpdate(void* dialog, RunRecord* record) {
    EnableUpdateButton(dialog, 0);
    SetProgress(dialog, 0);

    char versionText[VERSION_TEXT_SIZE] = "";
    void* found = FindPackageResource();
    if (found) {
        void* loaded = LoadPackageResource(found);
        if (!loaded) return Stopped(record, "the package (RCDATA 1) does not load");
        const unsigned char* data = LockPackageResource(loaded);
        if (!data) {
            FreePackageResource(loaded);
            return Stopped(record, "the package (RCDATA 1) does not load");
        }
        PackageImage image{data, PackageResourceSize(found)};
        const PackageHeader* header;
        // Too short to hold its header: nothing in it can be read, so the run stops as for
        // a package that does not load.
        if (!GetPackageHeader(image, &header)) {
            FreePackageResource(loaded);
            return Stopped(record, "the package (RCDATA 1) is too short for its header");
        }
        int running = FindRunningApp(image, *header);
        if (running >= 0) {
            Record(record, ITEM_APPLICATION, OUTCOME_RUNNING,
                   TextOrEmpty(image, header->runningApps[running].windowClass), "window class");
            SetEarlyEnd(record, END_APP_RUNNING);
            // Unattended, nobody is there to read it: the exit code says it.
            if (!g_unattended)
                ShowRunningAppMessage(dialog, running,
                                      TextOrEmpty(image, header->runningApps[running].message),
                                      TextOrEmpty(image, header->title));
            EnableUpdateButton(dialog, 1);
            // Else Windows gives it back to the first enabled tab stop, Cancel, where the
            // Enter meant to try again would end the program.
            FocusUpdateButton(dialog);
            FreePackageResource(loaded);
            return 0;
        }
        ApplyPackage(dialog, image, *header, record);
        // The summary names the version after the package is let go.
        TextCopy(versionText, sizeof versionText, TextOrEmpty(image, header->versionText));
        FreePackageResource(loaded);
    } else {
        // A program with no package has nothing to apply: that is no update done.
        RecordCannotApply(record, "the program carries no package (RCDATA 1)");
    }

    Complete(dialog, record, versionText);
    return 1;
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

int RunUpdate(void* dialog, RunRecord* given) {
    g_tempFiles.entries = 0;
    g_tempFiles.missing = 0;
    RunRecord own;
    InitRunRecord(&own);
    RunRecord* record = given ? given : &own;
    int result = ApplyUpdate(dialog, record);
    FreeRunRecord(&own);
    return result;
}
