// SPDX-License-Identifier: MIT
#include "plan/plan.h"

#include <zlib.h>

#include "authoring/code_page.h"
#include "authoring/package_file.h"
#include "base/text.h"
#include "extras/extras_run.h"
#include "outcome/outcome.h"
#include "plan/plan_platform.h"
#include "rules/targets.h"
#include "rules/version.h"
#include "shortcuts/shell_folders.h"
#include "shortcuts/shortcuts.h"

namespace {

// The name the version rule reads the packaged copy under, where the program has its vq file.
const char PACKAGED_COPY[] = "<packaged copy>";

std::string Decode(const char* text) { return DecodeText(text, ThePlanPlatform().codePage); }

// The entry's data, whole, as the program would inflate it; `keep` holds the bytes.
bool InflateWhole(const PackageImage& image, const PackageEntry& entry, bool keep,
                  std::vector<unsigned char>* data) {
    const unsigned char* stream;
    if (!GetEntryStream(image, entry, &stream)) return false;
    data->clear();
    Inflated inflated = InflateInPieces(stream, entry.compressedSize, entry.size,
                                        [&](const unsigned char* piece, std::size_t size) {
                                            if (keep)
                                                data->insert(data->end(), piece, piece + size);
                                            return true;
                                        });
    return inflated.result == Z_STREAM_END && inflated.produced == entry.size;
}

// The target's folder: the text before its last backslash.
std::string FolderOf(const char* target) {
    const char* last = FindLastBackslash(target);
    return last ? std::string(target, last) : std::string();
}

void DecideByVersion(PlannedEntry* planned, const char* target) {
    char packaged[VERSION_TEXT_SIZE], installed[VERSION_TEXT_SIZE];
    ForgetCachedVersion();
    planned->hasPackagedVersion = ReadProductVersion(PACKAGED_COPY, packaged) != 0;
    planned->hasInstalledVersion = ReadProductVersion(target, installed) != 0;
    if (planned->hasPackagedVersion) planned->packagedVersion = Decode(packaged);
    if (planned->hasInstalledVersion) planned->installedVersion = Decode(installed);
    ForgetCachedVersion();
    planned->action =
        IsNewerOrSame(PACKAGED_COPY, target) ? PlanAction::Replaced : PlanAction::Kept;
    planned->reason = PlanReason::VersionRule;
}

// The engine's steps for one entry, each decision taken by the program's own rules.
PlannedEntry PlanEntry(const PackageImage& image, std::int32_t index, const PackageEntry& entry,
                       const char* installDir) {
    PlannedEntry planned;
    planned.index = index;
    planned.flags = entry.flags;
    const char* fileName = PackageText(image, entry.fileName);
    const char* folder = PackageText(image, entry.folder);
    if (fileName) planned.fileName = Decode(fileName);
    if (folder) planned.folder = Decode(folder);
    if (!fileName || !folder) return planned;  // skipped, damaged

    char target[PATH_TEXT_SIZE];
    if (!ResolveTargetPath(fileName, folder, installDir, target)) {
        // Every base folder is given, so only a missing placeholder or the length is left.
        planned.reason =
            FilePlaceholderOf(folder) < 0 ? PlanReason::NoPlaceholder : PlanReason::TargetTooLong;
        return planned;
    }
    planned.target = Decode(target);

    PlanPlatform& platform = ThePlanPlatform();
    std::string targetFolder = FolderOf(target);
    bool installed = LocalExists(target);
    bool byRule = installed && !(entry.flags & ENTRY_ALWAYS_REPLACE);
    if (!InflateWhole(image, entry, byRule, &platform.memoryBytes)) {
        planned.reason = PlanReason::DamagedEntry;
    } else if (!LocalFolder(targetFolder)) {
        planned.reason = PlanReason::FolderMissing;
        planned.missingFolder = Decode(targetFolder.c_str());
    } else if (!installed) {
        planned.action = PlanAction::Added;
        planned.reason = PlanReason::NewFile;
    } else if (!byRule) {
        planned.action = PlanAction::Replaced;
        planned.reason = PlanReason::AlwaysReplace;
    } else {
        DecideByVersion(&planned, target);
    }
    platform.memoryBytes.clear();
    // The program refuses these before any try, whatever the rules chose.
    if (planned.action == PlanAction::Replaced && LocalFolder(target)) {
        planned.action = PlanAction::Kept;
        planned.reason = PlanReason::FolderAtTarget;
    } else if (planned.action == PlanAction::Replaced && LocalReadOnly(target)) {
        planned.action = PlanAction::Kept;
        planned.reason = PlanReason::ReadOnly;
    }

    // As in the program: shortcuts go to the target whatever happened to its file.
    const char* shortcutText = PackageText(image, entry.shortcutText);
    if (shortcutText && shortcutText[0] != '\0') {
        platform.shortcuts = &planned.shortcuts;
        ApplyShortcutSpecs(shortcutText, target);
        platform.shortcuts = nullptr;
    }
    return planned;
}

void PlanMoves(const PackageImage& image, const PackageEntry& last, PackagePlan* plan) {
    std::uint32_t table;
    std::int32_t count;
    if (!GetMoveTableOffset(image, last, &table) || !GetMoveCount(image, table, &count)) {
        plan->faults.push_back("the move table behind the last entry's stream cannot be read");
        return;
    }
    PlanPlatform& platform = ThePlanPlatform();
    for (std::int32_t r = 0; r < count; ++r) {
        const ShortcutMoveRecord* record;
        if (!GetMoveRecord(image, table, r, &record)) {
            plan->faults.push_back("move " + std::to_string(r) + " of " + std::to_string(count) +
                                   " reaches past the end of the package");
            return;
        }
        const char* from = PackageText(image, record->from);
        const char* to = PackageText(image, record->to);
        if (!from || !to) {
            plan->faults.push_back("move " + std::to_string(r) + " has a text without an end");
            continue;
        }
        PlannedMove move;
        move.from = Decode(from);
        move.to = Decode(to);
        char path[PATH_TEXT_SIZE];
        if (ResolveShortcutPath(from, path)) move.fromPath = Decode(path);
        if (ResolveShortcutPlace(to, path) == SHORTCUT_PLACE_FOUND) move.toPath = Decode(path);
        platform.move = &move;
        MoveShortcut(from, to);
        platform.move = nullptr;
        plan->moves.push_back(move);
    }
}

// Whether the program would count the entry as done: its file in place, or kept by the rule.
bool EntryDone(const PlannedEntry& entry) {
    return entry.action == PlanAction::Replaced || entry.action == PlanAction::Added ||
           (entry.action == PlanAction::Kept && entry.reason == PlanReason::VersionRule);
}

// The path a folder or removal record names, composed as the program composes it.
std::string ExtraTarget(const char* text, const char* installDir) {
    char path[PATH_TEXT_SIZE];
    return ExtraPath(text, installDir, path) == EXTRA_SET ? Decode(path) : "";
}

// The steps' outcomes, as the run records them, into `plan`.
void RecordExtras(const ExtrasRun& run, const char* installDir, PackagePlan* plan) {
    for (std::int32_t i = 0; i < run.folderCount; ++i) {
        const FolderRecord* record;
        PlannedExtra extra{"folder", i, "", "", ExtraOutcomeWord(FolderOutcome(run, i))};
        if (GetFolderRecord(run.image, i, &record)) {
            extra.record = Decode(record->folder);
            extra.target = ExtraTarget(record->folder, installDir);
        }
        plan->extras.push_back(extra);
    }
    for (std::int32_t i = 0; i < run.removalCount; ++i) {
        const RemovalRecord* record;
        PlannedExtra extra{"removal", i, "", "", ExtraOutcomeWord(RemovalOutcome(run, i))};
        if (GetRemovalRecord(run.image, i, &record)) {
            extra.record = Decode(record->target);
            extra.target = ExtraTarget(record->target, installDir);
        }
        plan->extras.push_back(extra);
    }
    for (std::int32_t i = 0; i < run.registryCount; ++i) {
        const RegistryRecord* record;
        PlannedExtra extra{"value", i, "", "", ExtraOutcomeWord(ValueOutcome(run, i))};
        if (GetRegistryRecord(run.image, i, &record))
            extra.record = Decode(record->key) + ": " +
                           (record->valueName[0] ? Decode(record->valueName) : "(default)") +
                           " = " +
                           (record->type == EXTRAS_REG_DWORD ? std::to_string(record->number)
                                                             : "'" + Decode(record->text) + "'");
        plan->extras.push_back(extra);
    }
}

// Leaves the platform as it was found, whatever way the plan ends.
struct PlatformInUse {
    ~PlatformInUse() {
        ThePlanPlatform() = PlanPlatform();
        ForgetCachedVersion();
    }
};

}  // namespace

int PlanPackage(const PackageImage& image, const PlanFolders& folders, PackagePlan* plan,
                std::string* error, const ExtrasImage& extras) {
    const PackageHeader* header;
    if (!GetPackageHeader(image, &header)) {
        *error = "not a package: shorter than a package header";
        return 0;
    }
    PlatformInUse inUse;
    PlanPlatform& platform = ThePlanPlatform();
    platform.codePage = folders.codePage;
    // The rules compose paths in the package's code page, so every folder must be written in it.
    std::string installDir, windowsDir, systemDir;
    const struct {
        const char* name;
        const std::string& folder;
        std::string* encoded;
    } FOLDERS[] = {{"install", folders.installDir, &installDir},
                   {"Windows", folders.windowsDir, &windowsDir},
                   {"system", folders.systemDir, &systemDir},
                   {"program menu", folders.programMenu, &platform.shellFolders[0]},
                   {"desktop", folders.desktop, &platform.shellFolders[1]},
                   {"start menu", folders.startMenu, &platform.shellFolders[2]},
                   {"startup", folders.startUpMenu, &platform.shellFolders[3]},
                   {"AppData", folders.appData, &platform.shellFolders[4]}};
    for (const auto& given : FOLDERS) {
        if (!EncodeText(given.folder, folders.codePage, given.encoded, error)) {
            *error = std::string("the ") + given.name + " folder " + given.folder + ": " + *error;
            return 0;
        }
    }
    SetPlatformFolders(windowsDir, systemDir);
    SetPlatformCodePage(folders.codePage);
    platform.memoryPath = PACKAGED_COPY;

    *plan = PackagePlan();
    // As the run: the folders first, so that the files beneath them are added, not skipped.
    platform.extras = extras;
    ExtrasRun run;
    if (OpenExtras(&run) == EXTRAS_DAMAGED)
        plan->faults.push_back(
            "the steps beside the package are damaged: the program applies nothing");
    CreateExtraFolders(&run, installDir.c_str());
    const PackageEntry* last = nullptr;
    for (std::int32_t i = 0; i < header->entryCount; ++i) {
        const PackageEntry* entry;
        if (!GetPackageEntry(image, i, &entry)) {
            plan->faults.push_back("entry " + std::to_string(i) + " of " +
                                   std::to_string(header->entryCount) +
                                   " reaches past the end of the package");
            break;
        }
        if (i == header->entryCount - 1) last = entry;
        plan->entries.push_back(PlanEntry(image, i, *entry, installDir.c_str()));
    }
    if (last) PlanMoves(image, *last, plan);
    bool everyEntryDone = plan->faults.empty();
    for (const PlannedEntry& entry : plan->entries)
        everyEntryDone = everyEntryDone && EntryDone(entry);
    FinishExtras(&run, installDir.c_str(), 0, everyEntryDone);
    RecordExtras(run, installDir.c_str(), plan);
    CloseExtras(&run);
    return 1;
}

const char* PlanActionName(PlanAction action) {
    switch (action) {
        case PlanAction::Replaced:
            return "replaced";
        case PlanAction::Kept:
            return "kept";
        case PlanAction::Added:
            return "added";
        case PlanAction::Skipped:
            break;
    }
    return "skipped";
}

const char* PlanReasonName(PlanReason reason) {
    switch (reason) {
        case PlanReason::AlwaysReplace:
            return "alwaysReplace";
        case PlanReason::VersionRule:
            return "versionRule";
        case PlanReason::NewFile:
            return "newFile";
        case PlanReason::FolderMissing:
            return "folderMissing";
        case PlanReason::NoPlaceholder:
            return "noPlaceholder";
        case PlanReason::TargetTooLong:
            return "targetTooLong";
        case PlanReason::ReadOnly:
            return "readOnly";
        case PlanReason::FolderAtTarget:
            return "folderAtTarget";
        case PlanReason::DamagedEntry:
            break;
    }
    return "damagedEntry";
}

const char* PlanMoveActionName(PlanMoveAction action) {
    switch (action) {
        case PlanMoveAction::Move:
            return "move";
        case PlanMoveAction::Delete:
            return "delete";
        case PlanMoveAction::None:
            break;
    }
    return "none";
}

const char* PlannedOutcomeName(const PlannedEntry& entry) {
    switch (entry.reason) {
        case PlanReason::AlwaysReplace:
            return OutcomeName(OUTCOME_REPLACED);
        case PlanReason::VersionRule:
            return OutcomeName(entry.action == PlanAction::Kept ? OUTCOME_KEPT_VERSION
                                                                : OUTCOME_REPLACED);
        case PlanReason::NewFile:
            return OutcomeName(OUTCOME_ADDED);
        case PlanReason::FolderMissing:
            return OutcomeName(OUTCOME_SKIPPED_NO_FOLDER);
        case PlanReason::NoPlaceholder:
            return OutcomeName(OUTCOME_SKIPPED_PLACEHOLDER);
        case PlanReason::TargetTooLong:
            return OutcomeName(OUTCOME_SKIPPED_TOO_LONG);
        case PlanReason::ReadOnly:
            return OutcomeName(OUTCOME_KEPT_READ_ONLY);
        case PlanReason::FolderAtTarget:
            return OutcomeName(OUTCOME_KEPT_FOLDER);
        case PlanReason::DamagedEntry:
            break;
    }
    return OutcomeName(OUTCOME_DAMAGED);
}

const char* PlannedShortcutOutcomeName(const PlannedShortcut& shortcut) {
    return OutcomeName(shortcut.exists ? OUTCOME_EXISTS : OUTCOME_CREATED);
}

const char* PlannedMoveOutcomeName(const PlannedMove& move) {
    switch (move.action) {
        case PlanMoveAction::Move:
            return OutcomeName(OUTCOME_MOVED);
        case PlanMoveAction::Delete:
            return OutcomeName(OUTCOME_DELETED);
        case PlanMoveAction::None:
            break;
    }
    return OutcomeName(OUTCOME_NOTHING_TO_MOVE);
}
