// SPDX-License-Identifier: MIT
#include "extras/extras_run.h"

#include <cstdlib>
#include <cstring>

#include "base/code_page.h"
#include "base/registry.h"
#include "base/text.h"
#include "extras/extras_seam.h"

namespace {

const char INSTALL_DIR_TAG[] = "<InstallDir>";

const char* NextCharacter(const char* text) {
    if (IsAnsiLeadByte(static_cast<unsigned char>(*text)) && text[1] != '\0') return text + 2;
    return text + 1;
}

// One name between backslashes, [begin, end): not empty, not "." or "..", none of the
// characters Windows refuses in a name, not ending in a dot or a blank (Windows would drop
// them and name another file). Stepped through by character: a second byte is never one of
// these.
bool IsPlainName(const char* begin, const char* end) {
    if (begin == end || end[-1] == '.' || end[-1] == ' ') return false;
    for (const char* at = begin; at < end; at = NextCharacter(at)) {
        unsigned char byte = static_cast<unsigned char>(*at);
        if (byte < 0x20 || std::strchr("/:*?\"<>|", byte)) return false;
    }
    return true;
}

// "\name\name...": every name plain.
bool IsRelativeRest(const char* rest) {
    if (rest[0] != '\\') return false;
    const char* begin = rest + 1;
    for (;;) {
        const char* separator = FindBackslash(begin);
        const char* end = separator ? separator : begin + std::strlen(begin);
        if (!IsPlainName(begin, end)) return false;
        if (!separator) return true;
        begin = separator + 1;
    }
}

// "C:" or "\\server\share", once its trailing backslash is dropped: no folder of its own.
bool IsRootFolder(const char* folder) {
    if (folder[0] != '\0' && folder[1] == ':' && folder[2] == '\0') return true;
    if (folder[0] != '\\' || folder[1] != '\\') return false;
    const char* share = FindBackslash(folder + 2);
    return share == nullptr || FindBackslash(share + 1) == nullptr;
}

// The install folder without its trailing backslash, checked to be a folder on the machine.
ExtraOutcome InstallBase(const char* installDir, char* base) {
    if (installDir == nullptr || installDir[0] == '\0' ||
        !TextCopy(base, PATH_TEXT_SIZE, installDir))
        return EXTRA_NO_INSTALL_DIR;
    DropTrailingBackslash(base);
    if (IsRootFolder(base)) return EXTRA_ROOT_INSTALL_DIR;
    return EXTRA_SET;
}

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
    InstallBase(installDir, base);
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

ExtraOutcome RemoveFile(const RemovalRecord& record, const char* installDir) {
    char path[PATH_TEXT_SIZE];
    ExtraOutcome outcome = ExtraPath(record.target, installDir, path);
    if (outcome != EXTRA_SET) return outcome;
    char base[PATH_TEXT_SIZE];
    InstallBase(installDir, base);
    PathKind baseKind = GetPathKind(base);
    if (baseKind != PATH_FOLDER && baseKind != PATH_LINK) return EXTRA_NO_INSTALL_DIR;

    // Every folder on the way must be a plain one: a link there may lead anywhere.
    std::size_t baseLength = std::strlen(base);
    outcome = ForEachFolderBelow(path, baseLength, [](const char* folder) {
        switch (GetPathKind(folder)) {
            case PATH_FOLDER:
                return EXTRA_SET;
            case PATH_LINK:
                return EXTRA_OUTSIDE;
            default:
                return EXTRA_NOT_THERE;
        }
    });
    if (outcome != EXTRA_SET) return outcome;
    switch (GetPathKind(path)) {
        case PATH_NONE:
            return EXTRA_NOT_THERE;
        case PATH_FILE:
            break;
        case PATH_LINK:
            return EXTRA_OUTSIDE;
        case PATH_FOLDER:  // files only
        case PATH_OTHER:
            return EXTRA_FAILED;
    }
    switch (RemoveOneFile(path)) {
        case FILE_REMOVED:
            break;
        case FILE_GONE:
            return EXTRA_NOT_THERE;
        case FILE_HELD:
            return EXTRA_AT_RESTART;
        case FILE_NOT_REMOVED:
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

ExtraOutcome ExtraPath(const char* text, const char* installDir, char* path) {
    char base[PATH_TEXT_SIZE];
    ExtraOutcome outcome = InstallBase(installDir, base);
    if (outcome != EXTRA_SET) return outcome;
    if (!BeginsWithName(text, INSTALL_DIR_TAG)) return EXTRA_OUTSIDE;
    const char* rest = text + std::strlen(INSTALL_DIR_TAG);
    if (!IsRelativeRest(rest) || !TextFormat(path, PATH_TEXT_SIZE, "%s%s", base, rest))
        return EXTRA_OUTSIDE;
    return EXTRA_SET;
}

void OpenExtras(ExtrasRun* run) {
    *run = ExtrasRun();
    ExtrasImage image = {nullptr, 0};
    const ExtrasHeader* header;
    if (!LoadExtrasResource(&image) || !GetExtrasHeader(image, &header)) return;
    run->image = image;
    std::int32_t count = header->folderCount + header->removalCount + header->registryCount;
    if (count == 0) return;
    // calloc: the program carries no C++ run-time library (see README). Zero is EXTRA_NOT_RUN.
    run->outcomes = static_cast<ExtraOutcome*>(std::calloc(count, sizeof(ExtraOutcome)));
    // Without room for their outcomes no step is taken: each would go unrecorded.
    if (!run->outcomes) return;
    run->folderCount = header->folderCount;
    run->removalCount = header->removalCount;
    run->registryCount = header->registryCount;
}

void CloseExtras(ExtrasRun* run) {
    std::free(run->outcomes);
    *run = ExtrasRun();
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
    }
}

void FinishExtras(ExtrasRun* run, const char* installDir, unsigned registryView,
                  int everyEntryDone) {
    ExtraOutcome* removals = run->outcomes + run->folderCount;
    ExtraOutcome* values = removals + run->removalCount;
    for (std::int32_t i = 0; i < run->removalCount; ++i) {
        const RemovalRecord* record;
        if (!GetRemovalRecord(run->image, i, &record))
            removals[i] = EXTRA_DAMAGED;
        else
            removals[i] = everyEntryDone ? RemoveFile(*record, installDir) : EXTRA_ENTRIES_NOT_DONE;
    }
    for (std::int32_t i = 0; i < run->registryCount; ++i) {
        const RegistryRecord* record;
        if (!GetRegistryRecord(run->image, i, &record))
            values[i] = EXTRA_DAMAGED;
        else
            values[i] = everyEntryDone ? SetValue(*record, registryView) : EXTRA_ENTRIES_NOT_DONE;
    }
}
