// SPDX-License-Identifier: MIT
#include "extras/extras_run.h"

#include <cstdlib>
#include <cstring>

#include "base/registry.h"
#include "base/text.h"
#include "extras/extras_seam.h"

namespace {

// Each folder of `path` below the first `baseLength` bytes, as a text ending there.
template <typename Step>
ExtraOutcome ForEachFolderBelow(char* path, std::size_t baseLength, Step step) {
    for (char* separator = const_cast<char*>(FindBackslash(path + baseLength + 1)); separator;
         separator = const_cast<char*>(FindBackslash(separator + 1))) {
        *separator = '\0';
        ExtraOutcome outcome = step(path);
        *separator = '\\';
        if (outcome != EXTRA_SET) return outcome;
    }
    return EXTRA_SET;
}

ExtraOutcome CreateFolder(const char* text, const char* installDir) {
    char path[PATH_TEXT_SIZE];
    ExtraOutcome outcome = ExtraPath(text, installDir, path);
    if (outcome != EXTRA_SET) return outcome;
    char base[PATH_TEXT_SIZE];
    ExtraInstallBase(installDir, base);
    // A junction as the install folder is the installer's choice; beneath it, a link the
    // run would follow out of the install folder is refused.
    PathKind baseKind = GetPathKind(base);
    if (baseKind != PATH_FOLDER && baseKind != PATH_LINK) return EXTRA_NO_INSTALL_DIR;

    int created = 0;
    auto make = [&](const char* folder) {
        switch (GetPathKind(folder)) {
            case PATH_FOLDER:
                return EXTRA_SET;
            case PATH_NONE:
                if (!CreateOneFolder(folder)) return EXTRA_FAILED;
                created = 1;
                return EXTRA_SET;
            case PATH_LINK:
                return EXTRA_OUTSIDE;
            case PATH_FILE:
            case PATH_OTHER:
                break;
        }
        return EXTRA_FAILED;
    };
    std::size_t baseLength = std::strlen(base);
    outcome = ForEachFolderBelow(path, baseLength, make);
    if (outcome == EXTRA_SET) outcome = make(path);
    if (outcome != EXTRA_SET) return outcome;
    return created ? EXTRA_CREATED : EXTRA_ALREADY_THERE;
}

// The folders and the file of a removal, held from the install folder down while it is done.
constexpr int HELD_LEVELS = 64;
struct HeldWalk {
    void* held[HELD_LEVELS];
    int count;
};

void ReleaseWalk(HeldWalk* walk, int keep = 0) {
    while (walk->count > keep) ReleasePath(walk->held[--walk->count]);
}

// Holds `path` as the next level of the walk; its kind in `kind`.
void* HoldNext(HeldWalk* walk, const char* path, int forDeletion, PathKind* kind) {
    if (walk->count >= HELD_LEVELS) {
        *kind = PATH_OTHER;
        return nullptr;
    }
    void* held = HoldPath(path, forDeletion, kind);
    if (held) walk->held[walk->count++] = held;
    return held;
}

// Removes the file, every folder on the way held from the install folder down, so that none
// can be swapped for a junction between its check and the delete (a user who may change the
// install folder could otherwise send this elevated delete anywhere); the file is deleted
// through the handle that was checked.
ExtraOutcome RemoveFile(const RemovalRecord& record, const char* installDir) {
    char path[PATH_TEXT_SIZE];
    ExtraOutcome outcome = ExtraPath(record.target, installDir, path);
    if (outcome != EXTRA_SET) return outcome;
    char base[PATH_TEXT_SIZE];
    ExtraInstallBase(installDir, base);
    HeldWalk walk = {{}, 0};
    PathKind kind;
    // A junction as the install folder is the installer's choice; held, it stays that one.
    if (!HoldNext(&walk, base, 0, &kind) || (kind != PATH_FOLDER && kind != PATH_LINK)) {
        ReleaseWalk(&walk);
        return EXTRA_NO_INSTALL_DIR;
    }

    // Every folder on the way must be a plain one: a link there may lead anywhere.
    std::size_t baseLength = std::strlen(base);
    outcome = ForEachFolderBelow(path, baseLength, [&walk](const char* folder) {
        PathKind folderKind;
        HoldNext(&walk, folder, 0, &folderKind);
        switch (folderKind) {
            case PATH_FOLDER:
                return EXTRA_SET;
            case PATH_LINK:
                return EXTRA_OUTSIDE;
            default:
                return EXTRA_NOT_THERE;
        }
    });
    if (outcome != EXTRA_SET) {
        ReleaseWalk(&walk);
        return outcome;
    }
    int folders = walk.count;
    void* file = HoldNext(&walk, path, 1, &kind);
    FileRemoval removal = FILE_NOT_REMOVED;
    switch (kind) {
        case PATH_NONE:
            removal = FILE_GONE;
            break;
        case PATH_FILE:
            // Not held: another process holds it for good, which a delete by name finds out
            // (the folders are held, so the name still lies in them).
            removal = file ? RemoveHeldFile(file, path) : RemoveOneFile(path);
            break;
        case PATH_LINK:
            outcome = EXTRA_OUTSIDE;
            break;
        case PATH_FOLDER:  // files only
        case PATH_OTHER:
            outcome = EXTRA_FAILED;
            break;
    }
    // The file's own folder must be let go before it can be removed.
    ReleaseWalk(&walk, folders > 1 ? folders - 1 : folders);
    if (outcome != EXTRA_SET) {
        ReleaseWalk(&walk);
        return outcome;
    }
    switch (removal) {
        case FILE_REMOVED:
            break;
        case FILE_GONE:
            ReleaseWalk(&walk);
            return EXTRA_NOT_THERE;
        case FILE_HELD:
            ReleaseWalk(&walk);
            return EXTRA_AT_RESTART;
        case FILE_NOT_REMOVED:
            ReleaseWalk(&walk);
            return EXTRA_FAILED;
    }
    if (record.flags & REMOVAL_EMPTY_FOLDER) {
        char* last = const_cast<char*>(FindLastBackslash(path));
        // Never the install folder itself. A folder still holding something stays.
        if (last && static_cast<std::size_t>(last - path) > baseLength) {
            *last = '\0';
            RemoveEmptyFolder(path);
        }
    }
    ReleaseWalk(&walk);
    return EXTRA_REMOVED;
}

struct KeyRoot {
    const char* name;  // with its backslash
    RegistryRoot root;
};

constexpr KeyRoot VALUE_ROOTS[] = {
    {"HKEY_LOCAL_MACHINE\\", REGISTRY_LOCAL_MACHINE},
    {"HKEY_CURRENT_USER\\", REGISTRY_CURRENT_USER},
};

ExtraOutcome SetValue(const RegistryRecord& record, unsigned view) {
    if (record.type != EXTRAS_REG_SZ && record.type != EXTRAS_REG_DWORD) return EXTRA_DAMAGED;
    for (const KeyRoot& root : VALUE_ROOTS) {
        if (!BeginsWithName(record.key, root.name)) continue;
        const char* subKey = record.key + std::strlen(root.name);
        if (subKey[0] == '\0') return EXTRA_DAMAGED;
        switch (WriteRegistryValue(root.root, subKey, view, record.valueName, record.type,
                                   record.text, record.number)) {
            case VALUE_WRITTEN:
                return EXTRA_SET;
            case VALUE_NO_KEY:
                return EXTRA_KEY_MISSING;
            case VALUE_NOT_WRITTEN:
                break;
        }
        return EXTRA_FAILED;
    }
    return EXTRA_DAMAGED;
}

}  // namespace

ExtrasOpened OpenExtras(ExtrasRun* run) {
    *run = ExtrasRun();
    ExtrasImage image = {nullptr, 0};
    const ExtrasHeader* header;
    if (!LoadExtrasResource(&image)) return EXTRAS_NONE;
    if (!GetExtrasHeader(image, &header)) {
        // Only a resource that says it is one and cannot be read is damaged.
        std::uint32_t magic = 0;
        if (image.data && image.size >= sizeof magic) std::memcpy(&magic, image.data, sizeof magic);
        return magic == EXTRAS_MAGIC ? EXTRAS_DAMAGED : EXTRAS_NONE;
    }
    run->image = image;
    std::int32_t count = header->folderCount + header->removalCount + header->registryCount;
    if (count == 0) return EXTRAS_READ;
    // calloc: the program carries no C++ run-time library (see README). Zero is EXTRA_NOT_RUN.
    run->outcomes = static_cast<ExtraOutcome*>(std::calloc(count, sizeof(ExtraOutcome)));
    run->errors = static_cast<unsigned long*>(std::calloc(count, sizeof(unsigned long)));
    if (!run->outcomes || !run->errors) {
        CloseExtras(run);
        return EXTRAS_NO_MEMORY;
    }
    run->folderCount = header->folderCount;
    run->removalCount = header->removalCount;
    run->registryCount = header->registryCount;
    return EXTRAS_READ;
}

void CloseExtras(ExtrasRun* run) {
    std::free(run->outcomes);
    std::free(run->errors);
    *run = ExtrasRun();
}

unsigned long ExtraError(const ExtrasRun& run, std::int32_t index) {
    return run.errors && index >= 0 &&
                   index < run.folderCount + run.removalCount + run.registryCount
               ? run.errors[index]
               : 0;
}

int InFolderNotMade(const ExtrasRun& run, const char* installDir, const char* path) {
    for (std::int32_t i = 0; i < run.folderCount; ++i) {
        ExtraOutcome outcome = run.outcomes[i];
        const FolderRecord* record;
        char folder[PATH_TEXT_SIZE];
        if (outcome == EXTRA_CREATED || outcome == EXTRA_ALREADY_THERE ||
            !GetFolderRecord(run.image, i, &record) ||
            ExtraPath(record->folder, installDir, folder) != EXTRA_SET)
            continue;
        std::size_t length = std::strlen(folder);
        if (TextLength(path, length) == length && path[length] == '\\' &&
            BeginsWithName(path, folder))
            return 1;
    }
    return 0;
}

ExtraOutcome FolderOutcome(const ExtrasRun& run, std::int32_t index) {
    return index >= 0 && index < run.folderCount ? run.outcomes[index] : EXTRA_NOT_RUN;
}

ExtraOutcome RemovalOutcome(const ExtrasRun& run, std::int32_t index) {
    return index >= 0 && index < run.removalCount ? run.outcomes[run.folderCount + index]
                                                  : EXTRA_NOT_RUN;
}

ExtraOutcome ValueOutcome(const ExtrasRun& run, std::int32_t index) {
    return index >= 0 && index < run.registryCount
               ? run.outcomes[run.folderCount + run.removalCount + index]
               : EXTRA_NOT_RUN;
}

void CreateExtraFolders(ExtrasRun* run, const char* installDir) {
    for (std::int32_t i = 0; i < run->folderCount; ++i) {
        const FolderRecord* record;
        run->outcomes[i] = GetFolderRecord(run->image, i, &record)
                               ? CreateFolder(record->folder, installDir)
                               : EXTRA_DAMAGED;
        if (run->outcomes[i] == EXTRA_FAILED) run->errors[i] = LastStepError();
    }
}

void FinishExtras(ExtrasRun* run, const char* installDir, unsigned registryView, int everyEntryDone,
                  int nothingFailed) {
    if (!run->outcomes) return;
    ExtraOutcome* removals = run->outcomes + run->folderCount;
    ExtraOutcome* values = removals + run->removalCount;
    unsigned long* errors = run->errors + run->folderCount;
    for (std::int32_t i = 0; i < run->folderCount; ++i)
        if (run->outcomes[i] != EXTRA_CREATED && run->outcomes[i] != EXTRA_ALREADY_THERE)
            nothingFailed = 0;
    for (std::int32_t i = 0; i < run->removalCount; ++i) {
        const RemovalRecord* record;
        if (!GetRemovalRecord(run->image, i, &record))
            removals[i] = EXTRA_DAMAGED;
        else
            removals[i] = everyEntryDone ? RemoveFile(*record, installDir) : EXTRA_ENTRIES_NOT_DONE;
        if (removals[i] == EXTRA_FAILED) errors[i] = LastStepError();
        if (removals[i] != EXTRA_REMOVED && removals[i] != EXTRA_NOT_THERE &&
            removals[i] != EXTRA_AT_RESTART)
            nothingFailed = 0;
    }
    errors += run->removalCount;
    for (std::int32_t i = 0; i < run->registryCount; ++i) {
        const RegistryRecord* record;
        if (!GetRegistryRecord(run->image, i, &record))
            values[i] = EXTRA_DAMAGED;
        else if (!everyEntryDone)
            values[i] = EXTRA_ENTRIES_NOT_DONE;
        else if (!nothingFailed)
            values[i] = EXTRA_EARLIER_FAILED;
        else
            values[i] = SetValue(*record, registryView);
        if (values[i] == EXTRA_FAILED) errors[i] = LastStepError();
    }
}
