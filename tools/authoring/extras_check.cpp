// SPDX-License-Identifier: MIT
#include "authoring/extras_check.h"

#include <cinttypes>
#include <cstring>

#include "authoring/code_page.h"
#include "base/text.h"
#include "extras/extras_run.h"

namespace {

// Why the program would refuse the path; "" when it takes it.
std::string PathFault(const char* text, const char* installDir) {
    char path[PATH_TEXT_SIZE];
    ExtraOutcome outcome = ExtraPath(text, installDir, path);
    return outcome == EXTRA_SET ? "" : ExtraOutcomeWord(outcome);
}

std::string RegistryFault(const RegistryRecord& record) {
    if (record.type != EXTRAS_REG_SZ && record.type != EXTRAS_REG_DWORD)
        return "type " + std::to_string(record.type) + " is neither a text (1) nor a dword (4)";
    for (const char* root : {"HKEY_LOCAL_MACHINE\\", "HKEY_CURRENT_USER\\"})
        if (BeginsWithName(record.key, root) && std::strlen(record.key) > std::strlen(root))
            return "";
    return "the key is not under HKEY_LOCAL_MACHINE\\ or HKEY_CURRENT_USER\\";
}

}  // namespace

ExtrasDescription DescribeExtras(const ExtrasImage& image, int codePage, const char* installDir) {
    ExtrasDescription described;
    const ExtrasHeader* header;
    if (!GetExtrasHeader(image, &header)) {
        described.faults.push_back(
            "the steps beside the package are not readable: another format, or records past "
            "its end");
        return described;
    }
    described.folders = header->folderCount;
    described.removals = header->removalCount;
    described.values = header->registryCount;
    auto decode = [&](const char* text) { return DecodeText(text, codePage); };
    auto unreadable = [&](const char* kind, std::int32_t i) {
        described.faults.push_back(std::string(kind) + " " + std::to_string(i) +
                                   ": a text does not end inside its field");
    };
    for (std::int32_t i = 0; i < header->folderCount; ++i) {
        const FolderRecord* record;
        if (!GetFolderRecord(image, i, &record)) {
            unreadable("folder", i);
            continue;
        }
        described.lines.push_back("folder   [" + std::to_string(i) + "] " + decode(record->folder));
        std::string fault = PathFault(record->folder, installDir);
        if (!fault.empty())
            described.faults.push_back("folder " + std::to_string(i) + " '" +
                                       decode(record->folder) + "': " + fault);
    }
    for (std::int32_t i = 0; i < header->removalCount; ++i) {
        const RemovalRecord* record;
        if (!GetRemovalRecord(image, i, &record)) {
            unreadable("removal", i);
            continue;
        }
        described.lines.push_back(
            "remove   [" + std::to_string(i) + "] " + decode(record->target) +
            (record->flags & REMOVAL_EMPTY_FOLDER ? ", then its folder when empty" : ""));
        std::string fault = PathFault(record->target, installDir);
        if (!fault.empty())
            described.faults.push_back("removal " + std::to_string(i) + " '" +
                                       decode(record->target) + "': " + fault);
    }
    for (std::int32_t i = 0; i < header->registryCount; ++i) {
        const RegistryRecord* record;
        if (!GetRegistryRecord(image, i, &record)) {
            unreadable("registry value", i);
            continue;
        }
        std::string data = record->type == EXTRAS_REG_DWORD
                               ? std::to_string(record->number) + " (dword)"
                               : "'" + decode(record->text) + "' (string)";
        std::string name = record->valueName[0] ? decode(record->valueName) : "(default)";
        described.lines.push_back("registry [" + std::to_string(i) + "] " + decode(record->key) +
                                  ": " + name + " = " + data);
        std::string fault = RegistryFault(*record);
        if (!fault.empty())
            described.faults.push_back("registry value " + std::to_string(i) + ": " + fault);
    }
    return described;
}
