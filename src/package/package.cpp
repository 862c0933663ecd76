// SPDX-License-Identifier: MIT
#include "package/package.h"

#include <cstring>

namespace {

// [offset, offset + length) lies inside the image; computed in 64 bits so that no sum wraps.
bool InImage(const PackageImage& image, std::uint64_t offset, std::uint64_t length) {
    return image.data != nullptr && offset <= image.size && length <= image.size - offset;
}

}  // namespace

int GetPackageHeader(const PackageImage& image, const PackageHeader** header) {
    if (!InImage(image, 0, HEADER_SIZE)) return 0;
    *header = reinterpret_cast<const PackageHeader*>(image.data);
    return 1;
}

int GetPackageEntry(const PackageImage& image, std::int32_t index, const PackageEntry** entry) {
    const PackageHeader* header;
    if (!GetPackageHeader(image, &header)) return 0;
    if (index < 0 || index >= header->entryCount) return 0;
    std::uint64_t offset = HEADER_SIZE + static_cast<std::uint64_t>(ENTRY_SIZE) * index;
    if (!InImage(image, offset, ENTRY_SIZE)) return 0;
    *entry = reinterpret_cast<const PackageEntry*>(image.data + offset);
    return 1;
}

int GetEntryStream(const PackageImage& image, const PackageEntry& entry,
                   const unsigned char** stream) {
    std::uint32_t offset = entry.streamOffset;
    if (!InImage(image, offset, entry.compressedSize)) return 0;
    *stream = image.data + offset;
    return 1;
}

int GetMoveTableOffset(const PackageImage& image, const PackageEntry& lastEntry,
                       std::uint32_t* offset) {
    std::uint64_t table =
        static_cast<std::uint64_t>(lastEntry.streamOffset) + lastEntry.compressedSize;
    if (!InImage(image, table, MOVE_COUNT_SIZE)) return 0;
    *offset = static_cast<std::uint32_t>(table);
    return 1;
}

int GetMoveCount(const PackageImage& image, std::uint32_t tableOffset, std::int32_t* moveCount) {
    if (!InImage(image, tableOffset, MOVE_COUNT_SIZE)) return 0;
    std::memcpy(moveCount, image.data + tableOffset, 4);
    return 1;
}

int GetMoveRecord(const PackageImage& image, std::uint32_t tableOffset, std::int32_t index,
                  const ShortcutMoveRecord** record) {
    if (index < 0) return 0;
    std::uint64_t offset = static_cast<std::uint64_t>(tableOffset) + MOVE_COUNT_SIZE +
                           static_cast<std::uint64_t>(MOVE_RECORD_SIZE) * index;
    if (!InImage(image, offset, MOVE_RECORD_SIZE)) return 0;
    *record = reinterpret_cast<const ShortcutMoveRecord*>(image.data + offset);
    return 1;
}

const char* PackageText(const PackageImage& image, const char* field) {
    const unsigned char* start = reinterpret_cast<const unsigned char*>(field);
    if (image.data == nullptr || start < image.data || start >= image.data + image.size)
        return nullptr;
    std::size_t left = static_cast<std::size_t>(image.data + image.size - start);
    return std::memchr(start, '\0', left) ? field : nullptr;
}
