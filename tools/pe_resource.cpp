#include "pe_resource.h"

#include <cstring>

namespace {

// The file's bytes; every read goes through Read*, which refuse to leave them.
struct Bytes {
    const unsigned char* data;
    std::uint64_t size;
};

bool Inside(const Bytes& bytes, std::uint64_t offset, std::uint64_t length) {
    return offset <= bytes.size && length <= bytes.size - offset;
}

bool Read16(const Bytes& bytes, std::uint64_t offset, std::uint32_t* value) {
    if (!Inside(bytes, offset, 2)) return false;
    *value = bytes.data[offset] | static_cast<std::uint32_t>(bytes.data[offset + 1]) << 8;
    return true;
}

bool Read32(const Bytes& bytes, std::uint64_t offset, std::uint32_t* value) {
    if (!Inside(bytes, offset, 4)) return false;
    *value = bytes.data[offset] | static_cast<std::uint32_t>(bytes.data[offset + 1]) << 8 |
             static_cast<std::uint32_t>(bytes.data[offset + 2]) << 16 |
             static_cast<std::uint32_t>(bytes.data[offset + 3]) << 24;
    return true;
}

constexpr std::uint32_t DOS_LFANEW = 0x3C;
constexpr std::uint32_t COFF_HEADER_SIZE = 20;
constexpr std::uint32_t SECTION_HEADER_SIZE = 40;
constexpr std::uint32_t PE32_MAGIC = 0x10B;
constexpr std::uint32_t PE32_PLUS_MAGIC = 0x20B;
constexpr std::uint32_t RESOURCE_DIRECTORY_INDEX = 2;
constexpr std::uint32_t SUBDIRECTORY_FLAG = 0x80000000u;
constexpr std::uint32_t NAMED_FLAG = 0x80000000u;

struct Image {
    Bytes bytes;
    std::uint64_t sectionTable;
    std::uint32_t sectionCount;
};

// File offset of `length` bytes at `rva`, inside one section's raw data.
bool RvaToOffset(const Image& image, std::uint32_t rva, std::uint32_t length,
                 std::uint64_t* offset) {
    for (std::uint32_t s = 0; s < image.sectionCount; ++s) {
        std::uint64_t header =
            image.sectionTable + static_cast<std::uint64_t>(s) * SECTION_HEADER_SIZE;
        std::uint32_t virtualSize, virtualAddress, rawSize, rawOffset;
        if (!Read32(image.bytes, header + 8, &virtualSize) ||
            !Read32(image.bytes, header + 12, &virtualAddress) ||
            !Read32(image.bytes, header + 16, &rawSize) ||
            !Read32(image.bytes, header + 20, &rawOffset))
            return false;
        std::uint64_t start = virtualAddress;
        std::uint64_t extent = virtualSize > rawSize ? virtualSize : rawSize;
        if (rva < start || rva - start >= extent) continue;
        std::uint64_t within = rva - start;
        // Data beyond the raw bytes would be zero fill at load time; a package there is damaged.
        if (within + length > rawSize) return false;
        *offset = rawOffset + within;
        return Inside(image.bytes, *offset, length);
    }
    return false;
}

// Looks up `id` among the id entries of the directory at `directory` (offset from the
// resource section's start `base`). With `anyId`, takes `id` if there, else the first entry.
// Gives the entry's OffsetToData and the id found.
bool FindEntry(const Bytes& bytes, std::uint64_t base, std::uint32_t directory, std::uint32_t id,
               bool anyId, std::uint32_t* target, std::uint32_t* foundId) {
    std::uint32_t named, ids;
    std::uint64_t at = base + directory;
    if (!Read16(bytes, at + 12, &named) || !Read16(bytes, at + 14, &ids)) return false;
    bool haveFirst = false;
    for (std::uint32_t k = 0; k < named + ids; ++k) {
        std::uint32_t name, offset;
        if (!Read32(bytes, at + 16 + 8ull * k, &name) ||
            !Read32(bytes, at + 20 + 8ull * k, &offset))
            return false;
        if (name & NAMED_FLAG) continue;
        if (name == id) {
            *target = offset;
            *foundId = name;
            return true;
        }
        if (anyId && !haveFirst) {
            haveFirst = true;
            *target = offset;
            *foundId = name;
        }
    }
    return haveFirst;
}

}  // namespace

int LooksLikePe(const unsigned char* data, std::uint64_t size) {
    Bytes bytes{data, size};
    std::uint32_t lfanew, signature;
    if (!Inside(bytes, 0, 2) || data[0] != 'M' || data[1] != 'Z') return 0;
    if (!Read32(bytes, DOS_LFANEW, &lfanew) || !Read32(bytes, lfanew, &signature)) return 0;
    return signature == 0x00004550u;  // "PE\0\0"
}

int FindPeResource(const unsigned char* data, std::uint64_t size, std::uint32_t type,
                   std::uint32_t id, std::uint32_t language, PeResource* found,
                   std::string* error) {
    if (!LooksLikePe(data, size)) {
        *error = "not a PE image";
        return 0;
    }
    Bytes bytes{data, size};
    std::uint32_t lfanew, sectionCount, optionalSize, magic;
    Read32(bytes, DOS_LFANEW, &lfanew);
    std::uint64_t coff = static_cast<std::uint64_t>(lfanew) + 4;
    std::uint64_t optional = coff + COFF_HEADER_SIZE;
    if (!Read16(bytes, coff + 2, &sectionCount) || !Read16(bytes, coff + 16, &optionalSize) ||
        !Read16(bytes, optional, &magic)) {
        *error = "PE headers cut off";
        return 0;
    }
    // The data directories follow the fixed part, which is 16 bytes longer in PE32+.
    std::uint64_t directories;
    if (magic == PE32_MAGIC) {
        directories = optional + 96;
    } else if (magic == PE32_PLUS_MAGIC) {
        directories = optional + 112;
    } else {
        *error = "unknown optional header magic";
        return 0;
    }
    std::uint32_t directoryCount, resourceRva, resourceSize;
    if (!Read32(bytes, directories - 4, &directoryCount) ||
        directories + 8ull * (RESOURCE_DIRECTORY_INDEX + 1) > optional + optionalSize) {
        *error = "no resource directory";
        return 0;
    }
    if (directoryCount <= RESOURCE_DIRECTORY_INDEX ||
        !Read32(bytes, directories + 8 * RESOURCE_DIRECTORY_INDEX, &resourceRva) ||
        !Read32(bytes, directories + 8 * RESOURCE_DIRECTORY_INDEX + 4, &resourceSize) ||
        resourceRva == 0 || resourceSize == 0) {
        *error = "no resource directory";
        return 0;
    }
    Image image{bytes, optional + optionalSize, sectionCount};
    std::uint64_t base;
    if (!RvaToOffset(image, resourceRva, 16, &base)) {
        *error = "resource directory outside the file's sections";
        return 0;
    }
    // Three fixed levels: type, name, language. Each step must name a subdirectory except the
    // last, which names a data entry; anything else is a damaged directory.
    std::uint32_t entry, foundId;
    if (!FindEntry(bytes, base, 0, type, false, &entry, &foundId) || !(entry & SUBDIRECTORY_FLAG) ||
        !FindEntry(bytes, base, entry & ~SUBDIRECTORY_FLAG, id, false, &entry, &foundId) ||
        !(entry & SUBDIRECTORY_FLAG)) {
        *error = "no resource of type " + std::to_string(type) + " with id " + std::to_string(id);
        return 0;
    }
    if (!FindEntry(bytes, base, entry & ~SUBDIRECTORY_FLAG, language, true, &entry, &foundId) ||
        (entry & SUBDIRECTORY_FLAG)) {
        *error = "resource " + std::to_string(id) + " has no language entry";
        return 0;
    }
    std::uint32_t dataRva, dataSize;
    std::uint64_t dataOffset;
    if (!Read32(bytes, base + entry, &dataRva) || !Read32(bytes, base + entry + 4, &dataSize) ||
        !RvaToOffset(image, dataRva, dataSize, &dataOffset) || dataOffset > 0xFFFFFFFFu) {
        *error = "resource data lies outside the file";
        return 0;
    }
    found->offset = static_cast<std::uint32_t>(dataOffset);
    found->size = dataSize;
    found->language = foundId;
    return 1;
}
