// SPDX-License-Identifier: MIT
#include "extras/extras_writer.h"

#include <cstring>

#include "extras/extras.h"

namespace {

bool PutText(char* field, std::size_t width, const std::string& text, const char* what,
             std::string* error) {
    if (text.size() >= width || text.find('\0') != std::string::npos) {
        *error = std::string(what) + " '" + text + "' does not fit its " +
                 std::to_string(width - 1) + " bytes";
        return false;
    }
    std::memcpy(field, text.data(), text.size());
    return true;
}

template <typename Record>
void Append(const Record& record, std::vector<unsigned char>* out) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&record);
    out->insert(out->end(), bytes, bytes + sizeof record);
}

}  // namespace

int BuildExtras(const WriterExtras& extras, std::vector<unsigned char>* out, std::string* error) {
    for (std::size_t count : {extras.folders.size(), extras.removals.size(), extras.values.size()})
        if (count > static_cast<std::size_t>(EXTRAS_MAX_COUNT)) {
            *error = "more than " + std::to_string(EXTRAS_MAX_COUNT) + " records of one kind";
            return 0;
        }
    std::vector<unsigned char> bytes;
    ExtrasHeader header = {};
    header.magic = EXTRAS_MAGIC;
    header.formatVersion = EXTRAS_FORMAT_VERSION;
    header.folderCount = static_cast<std::int32_t>(extras.folders.size());
    header.removalCount = static_cast<std::int32_t>(extras.removals.size());
    header.registryCount = static_cast<std::int32_t>(extras.values.size());
    Append(header, &bytes);
    for (const std::string& folder : extras.folders) {
        FolderRecord record = {};
        if (!PutText(record.folder, sizeof record.folder, folder, "folder", error)) return 0;
        Append(record, &bytes);
    }
    for (const WriterRemoval& removal : extras.removals) {
        RemovalRecord record = {};
        record.flags = removal.flags;
        if (!PutText(record.target, sizeof record.target, removal.target, "removal", error))
            return 0;
        Append(record, &bytes);
    }
    for (const WriterRegistryValue& value : extras.values) {
        RegistryRecord record = {};
        record.type = value.type;
        record.number = value.number;
        if (!PutText(record.key, sizeof record.key, value.key, "key", error) ||
            !PutText(record.valueName, sizeof record.valueName, value.valueName, "value", error) ||
            !PutText(record.text, sizeof record.text, value.text, "data", error))
            return 0;
        Append(record, &bytes);
    }
    *out = std::move(bytes);
    return 1;
}
