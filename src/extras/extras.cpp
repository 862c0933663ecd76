// SPDX-License-Identifier: MIT
#include "extras/extras.h"

#include <cstring>

namespace {

// [offset, offset + length) lies inside the image; in 64 bits so that no sum wraps.
bool InImage(const ExtrasImage& image, std::uint64_t offset, std::uint64_t length) {
    return image.data != nullptr && offset <= image.size && length <= image.size - offset;
}

bool Terminated(const char* field, std::size_t width) {
    return std::memchr(field, '\0', width) != nullptr;
}

// Record `index` of the table at `tableOffset` whose records are `recordSize` bytes.
template <typename Record>
const Record* RecordAt(const ExtrasImage& image, std::uint64_t tableOffset, std::int32_t count,
                       std::int32_t index) {
    if (index < 0 || index >= count) return nullptr;
    std::uint64_t offset = tableOffset + static_cast<std::uint64_t>(sizeof(Record)) * index;
    if (!InImage(image, offset, sizeof(Record))) return nullptr;
    return reinterpret_cast<const Record*>(image.data + offset);
}

std::uint64_t RemovalTable(const ExtrasHeader& header) {
    return EXTRAS_HEADER_SIZE + static_cast<std::uint64_t>(FOLDER_RECORD_SIZE) * header.folderCount;
}

std::uint64_t RegistryTable(const ExtrasHeader& header) {
    return RemovalTable(header) +
           static_cast<std::uint64_t>(REMOVAL_RECORD_SIZE) * header.removalCount;
}

bool CountInRange(std::int32_t count) { return count >= 0 && count <= EXTRAS_MAX_COUNT; }

}  // namespace

int GetExtrasHeader(const ExtrasImage& image, const ExtrasHeader** header) {
    if (!InImage(image, 0, EXTRAS_HEADER_SIZE)) return 0;
    const ExtrasHeader* read = reinterpret_cast<const ExtrasHeader*>(image.data);
    if (read->magic != EXTRAS_MAGIC || read->formatVersion != EXTRAS_FORMAT_VERSION) return 0;
    if (!CountInRange(read->folderCount) || !CountInRange(read->removalCount) ||
        !CountInRange(read->registryCount))
        return 0;
    std::uint64_t end = RegistryTable(*read) +
                        static_cast<std::uint64_t>(REGISTRY_RECORD_SIZE) * read->registryCount;
    if (!InImage(image, 0, end)) return 0;
    *header = read;
    return 1;
}

int GetFolderRecord(const ExtrasImage& image, std::int32_t index, const FolderRecord** record) {
    const ExtrasHeader* header;
    if (!GetExtrasHeader(image, &header)) return 0;
    const FolderRecord* found =
        RecordAt<FolderRecord>(image, EXTRAS_HEADER_SIZE, header->folderCount, index);
    if (!found || !Terminated(found->folder, sizeof found->folder)) return 0;
    *record = found;
    return 1;
}

int GetRemovalRecord(const ExtrasImage& image, std::int32_t index, const RemovalRecord** record) {
    const ExtrasHeader* header;
    if (!GetExtrasHeader(image, &header)) return 0;
    const RemovalRecord* found =
        RecordAt<RemovalRecord>(image, RemovalTable(*header), header->removalCount, index);
    if (!found || !Terminated(found->target, sizeof found->target)) return 0;
    *record = found;
    return 1;
}

int GetRegistryRecord(const ExtrasImage& image, std::int32_t index, const RegistryRecord** record) {
    const ExtrasHeader* header;
    if (!GetExtrasHeader(image, &header)) return 0;
    const RegistryRecord* found =
        RecordAt<RegistryRecord>(image, RegistryTable(*header), header->registryCount, index);
    if (!found || !Terminated(found->key, sizeof found->key) ||
        !Terminated(found->valueName, sizeof found->valueName) ||
        !Terminated(found->text, sizeof found->text))
        return 0;
    *record = found;
    return 1;
}

const char* ExtraOutcomeWord(ExtraOutcome outcome) {
    switch (outcome) {
        case EXTRA_NOT_RUN:
            return "not run";
        case EXTRA_CREATED:
            return "created";
        case EXTRA_ALREADY_THERE:
            return "already there";
        case EXTRA_REMOVED:
            return "removed";
        case EXTRA_NOT_THERE:
            return "not there";
        case EXTRA_AT_RESTART:
            return "removed at restart";
        case EXTRA_SET:
            return "set";
        case EXTRA_KEY_MISSING:
            return "key missing";
        case EXTRA_OUTSIDE:
            return "refused: outside the install folder";
        case EXTRA_NO_INSTALL_DIR:
            return "refused: no install folder";
        case EXTRA_ROOT_INSTALL_DIR:
            return "refused: the install folder is a drive root";
        case EXTRA_ENTRIES_NOT_DONE:
            return "skipped: not every entry was done";
        case EXTRA_DAMAGED:
            return "refused: damaged record";
        case EXTRA_EARLIER_FAILED:
            return "skipped: an earlier step failed";
        case EXTRA_FAILED:
            break;
    }
    return "failed";
}
