// SPDX-License-Identifier: MIT
// A PE image's version resource, walked with every read checked against the image's bytes.
#include "rules/version_image.h"

#include <cstddef>

#include "base/text.h"
#include "rules/version.h"
#include "rules/version_seam.h"

namespace {

struct Image {
    const unsigned char* data;
    std::uint32_t size;
};

bool Inside(const Image& image, std::uint32_t offset, std::uint32_t length) {
    return offset <= image.size && length <= image.size - offset;
}

bool Read16(const Image& image, std::uint32_t offset, std::uint32_t* value) {
    if (!Inside(image, offset, 2)) return false;
    *value = image.data[offset] | static_cast<std::uint32_t>(image.data[offset + 1]) << 8;
    return true;
}

bool Read32(const Image& image, std::uint32_t offset, std::uint32_t* value) {
    if (!Inside(image, offset, 4)) return false;
    *value = image.data[offset] | static_cast<std::uint32_t>(image.data[offset + 1]) << 8 |
             static_cast<std::uint32_t>(image.data[offset + 2]) << 16 |
             static_cast<std::uint32_t>(image.data[offset + 3]) << 24;
    return true;
}

constexpr std::uint32_t RESOURCE_DIRECTORY = 2;
constexpr std::uint32_t SUBDIRECTORY = 0x80000000u;
constexpr std::uint32_t RT_VERSION_TYPE = 16;
constexpr std::uint32_t VERSION_INFO_ID = 1;
constexpr std::uint32_t US_ENGLISH = 0x0409;

// Where the resource directory lies and how to turn its addresses into offsets.
struct Layout {
    std::uint32_t sectionTable;
    std::uint32_t sectionCount;
    std::uint32_t resourceRva;
};

bool ReadLayout(const Image& image, Layout* layout) {
    std::uint32_t mz, lfanew, signature, sections, optionalSize, magic;
    if (!Read16(image, 0, &mz) || mz != 0x5A4D || !Read32(image, 0x3C, &lfanew) ||
        !Read32(image, lfanew, &signature) || signature != 0x4550 || lfanew > 0xFFFF0000u)
        return false;
    const std::uint32_t coff = lfanew + 4, optional = coff + 20;
    if (!Read16(image, coff + 2, &sections) || !Read16(image, coff + 16, &optionalSize) ||
        !Read16(image, optional, &magic) || (magic != 0x10B && magic != 0x20B))
        return false;
    // The data directories follow the fixed part, 16 bytes longer in PE32+.
    const std::uint32_t directories = optional + (magic == 0x20B ? 112 : 96);
    std::uint32_t count, rva;
    if (!Read32(image, directories - 4, &count) || count <= RESOURCE_DIRECTORY ||
        directories + 8 * (RESOURCE_DIRECTORY + 1) > optional + optionalSize ||
        !Read32(image, directories + 8 * RESOURCE_DIRECTORY, &rva) || rva == 0)
        return false;
    layout->sectionTable = optional + optionalSize;
    layout->sectionCount = sections;
    layout->resourceRva = rva;
    return true;
}

// The file offset of `length` bytes at `rva`, all inside one section's bytes in the file.
bool RvaToOffset(const Image& image, const Layout& layout, std::uint32_t rva, std::uint32_t length,
                 std::uint32_t* offset) {
    for (std::uint32_t k = 0; k < layout.sectionCount; ++k) {
        const std::uint32_t header = layout.sectionTable + 40 * k;
        std::uint32_t address, rawSize, rawOffset;
        if (!Read32(image, header + 12, &address) || !Read32(image, header + 16, &rawSize) ||
            !Read32(image, header + 20, &rawOffset))
            return false;
        if (rva < address || rva - address >= rawSize) continue;
        const std::uint32_t into = rva - address;
        if (length > rawSize - into || !Inside(image, rawOffset, rawSize)) return false;
        *offset = rawOffset + into;
        return true;
    }
    return false;
}

// The entry of the directory at `directory` (an offset from `root`) named by `id`, or with
// `any`, its first id entry. Its OffsetToData in `*entry`.
bool FindEntry(const Image& image, std::uint32_t root, std::uint32_t directory, std::uint32_t id,
               bool any, std::uint32_t* entry) {
    std::uint32_t named, ids;
    if (!Inside(image, root, directory) || !Read16(image, root + directory + 12, &named) ||
        !Read16(image, root + directory + 14, &ids))
        return false;
    const std::uint32_t first = root + directory + 16 + 8 * named;
    for (std::uint32_t k = 0; k < ids; ++k) {
        std::uint32_t name;
        if (!Read32(image, first + 8 * k, &name)) return false;
        if ((any || name == id) && !(name & SUBDIRECTORY))
            return Read32(image, first + 8 * k + 4, entry);
    }
    return false;
}

// The version resource's bytes: type 16, id 1, the language Windows' own look-up would take.
bool FindVersionResource(const Image& image, std::uint32_t language, Image* resource) {
    Layout layout;
    std::uint32_t root, entry;
    if (!ReadLayout(image, &layout) || !RvaToOffset(image, layout, layout.resourceRva, 16, &root) ||
        !FindEntry(image, root, 0, RT_VERSION_TYPE, false, &entry) || !(entry & SUBDIRECTORY) ||
        !FindEntry(image, root, entry & ~SUBDIRECTORY, VERSION_INFO_ID, false, &entry) ||
        !(entry & SUBDIRECTORY))
        return false;
    const std::uint32_t languages = entry & ~SUBDIRECTORY;
    const std::uint32_t wanted[] = {0, language, US_ENGLISH};
    bool found = false;
    for (std::uint32_t id : wanted)
        if ((found = FindEntry(image, root, languages, id, false, &entry))) break;
    std::uint32_t rva, size, offset;
    if ((!found && !FindEntry(image, root, languages, 0, true, &entry)) || (entry & SUBDIRECTORY) ||
        !Read32(image, root + entry, &rva) || !Read32(image, root + entry + 4, &size) ||
        !RvaToOffset(image, layout, rva, size, &offset))
        return false;
    *resource = Image{image.data + offset, size};
    return true;
}

std::uint32_t Align4(std::uint32_t offset) { return (offset + 3) & ~3u; }

// One block of the version tree: wLength, wValueLength, wType, its key, its value, its children.
struct Block {
    std::uint32_t end;  // of the block, within its parent
    std::uint32_t key;  // of its key's first UTF-16 unit
    std::uint32_t value, valueBytes;
    std::uint32_t children;
};

bool ReadBlock(const Image& image, std::uint32_t start, std::uint32_t limit, Block* block) {
    std::uint32_t length, valueLength, type, unit = 1;
    if (!Read16(image, start, &length) || !Read16(image, start + 2, &valueLength) ||
        !Read16(image, start + 4, &type) || length < 6 || length > limit - start)
        return false;
    block->end = start + length;
    block->key = start + 6;
    std::uint32_t at = block->key;
    for (; unit != 0; at += 2)
        if (at + 2 > block->end || !Read16(image, at, &unit)) return false;
    block->value = Align4(at) < block->end ? Align4(at) : block->end;
    // A text's length counts UTF-16 units, a binary value's bytes; neither leaves the block.
    block->valueBytes = type == 1 ? 2 * valueLength : valueLength;
    if (block->valueBytes > block->end - block->value)
        block->valueBytes = block->end - block->value;
    block->children = Align4(block->value + block->valueBytes);
    return true;
}

// 1 when the block's key is `name`, ASCII letters in either case.
bool KeyIs(const Image& image, const Block& block, const char* name) {
    std::uint32_t at = block.key, unit = 0;
    for (;; at += 2, ++name) {
        if (!Read16(image, at, &unit)) return false;
        unsigned char c = static_cast<unsigned char>(*name);
        if (unit >= 'a' && unit <= 'z') unit -= 'a' - 'A';
        if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - ('a' - 'A'));
        if (unit != c) return false;
        if (c == '\0') return true;
    }
}

// The block that `path`'s keys ("\A\B", as VerQueryValue takes them) lead to from the root.
bool FindBlock(const Image& image, const char* path, Block* found) {
    Block current;
    if (!ReadBlock(image, 0, image.size, &current)) return false;
    char name[PATH_TEXT_SIZE];
    while (*path == '\\') ++path;
    while (*path != '\0') {
        std::size_t length = 0;
        while (path[length] != '\0' && path[length] != '\\' && length + 1 < sizeof name) {
            name[length] = path[length];
            ++length;
        }
        name[length] = '\0';
        path += length;
        while (*path == '\\') ++path;
        Block child;
        bool matched = false;
        for (std::uint32_t at = current.children; at + 6 <= current.end; at = Align4(child.end)) {
            if (!ReadBlock(image, at, current.end, &child)) return false;
            if ((matched = KeyIs(image, child, name))) break;
        }
        if (!matched) return false;
        current = child;
    }
    *found = current;
    return true;
}

}  // namespace

int ReadImageProductVersion(const unsigned char* image, std::uint32_t size, std::uint32_t language,
                            char* versionText) {
    Image resource;
    if (!FindVersionResource(Image{image, size}, language, &resource)) return 0;
    // The tree is as long as its root says, within the resource.
    std::uint32_t rootLength;
    if (!Read16(resource, 0, &rootLength) || rootLength > resource.size) return 0;
    resource.size = rootLength;

    Block block;
    std::uint32_t pair;
    if (!FindBlock(resource, "\\VarFileInfo\\Translation", &block) || block.valueBytes < 4 ||
        !Read32(resource, block.value, &pair))
        return 0;
    char query[PATH_TEXT_SIZE];
    if (!TextFormat(query, sizeof query, "\\StringFileInfo\\%04X%04X\\ProductVersion",
                    static_cast<unsigned>(pair & 0xFFFF), static_cast<unsigned>(pair >> 16)) ||
        !FindBlock(resource, query, &block))
        return 0;
    // The text ends at its NUL or at the value's end, whichever comes first.
    std::uint32_t units = 0, unit;
    while (2 * (units + 1) <= block.valueBytes &&
           Read16(resource, block.value + 2 * units, &unit) && unit != 0)
        ++units;
    return VersionTextToAnsi(resource.data + block.value, units, versionText, VERSION_TEXT_SIZE);
}

int IsNewerOrSameImage(const unsigned char* image, std::uint32_t size, const char* installedFile,
                       char* versions, std::size_t capacity) {
    char newText[VERSION_TEXT_SIZE];
    int haveNew = ReadImageProductVersion(image, size, UserResourceLanguage(), newText);
    return DecideByVersions(haveNew ? newText : nullptr, installedFile, versions, capacity);
}
