// SPDX-License-Identifier: MIT
#include "program/pe_resource.h"

#include <cstring>
#include <set>

#include "program/bounded_bytes.h"

namespace {

constexpr std::uint32_t DOS_LFANEW = 0x3C;
constexpr std::uint32_t COFF_HEADER_SIZE = 20;
constexpr std::uint32_t PE32_MAGIC = 0x10B;
constexpr std::uint32_t PE32_PLUS_MAGIC = 0x20B;
constexpr std::uint32_t SUBDIRECTORY_FLAG = 0x80000000u;
constexpr std::uint32_t NAMED_FLAG = 0x80000000u;

// File offset of `length` bytes at `rva`, inside one section's raw data.
bool RvaToOffset(const Bytes& bytes, const PeLayout& layout, std::uint32_t rva,
                 std::uint32_t length, std::uint64_t* offset) {
    for (const PeSection& section : layout.sections) {
        std::uint64_t start = section.virtualAddress;
        if (rva < start || rva - start >= SectionExtent(section)) continue;
        std::uint64_t within = rva - start;
        // Data beyond the raw bytes would be zero fill at load time; a package there is damaged.
        if (within + length > section.rawSize) return false;
        *offset = section.rawOffset + within;
        return Inside(bytes, *offset, length);
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
    Bytes bytes{data, size};
    PeLayout layout;
    if (!ReadPeLayout(data, size, &layout, error)) return 0;
    std::uint32_t resourceRva, resourceSize;
    if (!PeDirectory(data, size, layout, PE_RESOURCE_DIRECTORY, &resourceRva, &resourceSize) ||
        resourceRva == 0 || resourceSize == 0) {
        *error = "no resource directory";
        return 0;
    }
    std::uint64_t base;
    if (!RvaToOffset(bytes, layout, resourceRva, 16, &base)) {
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
        !RvaToOffset(bytes, layout, dataRva, dataSize, &dataOffset) || dataOffset > 0xFFFFFFFFu) {
        *error = "resource data lies outside the file";
        return 0;
    }
    found->offset = static_cast<std::uint32_t>(dataOffset);
    found->size = dataSize;
    found->language = foundId;
    return 1;
}

int ReadPeLayout(const unsigned char* data, std::uint64_t size, PeLayout* layout,
                 std::string* error) {
    if (!LooksLikePe(data, size)) {
        *error = "not a PE image";
        return 0;
    }
    Bytes bytes{data, size};
    std::uint32_t lfanew = 0, sectionCount, optionalSize, magic;  // LooksLikePe read it already
    Read32(bytes, DOS_LFANEW, &lfanew);
    layout->coff = static_cast<std::uint64_t>(lfanew) + 4;
    layout->optional = layout->coff + COFF_HEADER_SIZE;
    if (!Read16(bytes, layout->coff + 2, &sectionCount) ||
        !Read16(bytes, layout->coff + 16, &optionalSize) ||
        !Read16(bytes, layout->optional, &magic) ||
        !Read32(bytes, layout->optional + 8, &layout->initializedDataSize) ||
        !Read32(bytes, layout->optional + 32, &layout->sectionAlignment) ||
        !Read32(bytes, layout->optional + 36, &layout->fileAlignment) ||
        !Read32(bytes, layout->optional + 56, &layout->imageSize) ||
        !Read32(bytes, layout->optional + 60, &layout->headersSize)) {
        *error = "PE headers cut off";
        return 0;
    }
    layout->optionalSize = optionalSize;
    // The data directories follow the fixed part, which is 16 bytes longer in PE32+.
    if (magic == PE32_MAGIC || magic == PE32_PLUS_MAGIC) {
        layout->plus = magic == PE32_PLUS_MAGIC;
        layout->directories = layout->optional + (layout->plus ? 112 : 96);
    } else {
        *error = "unknown optional header magic";
        return 0;
    }
    std::uint32_t declared = 0;
    std::uint64_t end = layout->optional + optionalSize;
    layout->directoryCount = 0;
    if (layout->directories <= end && Read32(bytes, layout->directories - 4, &declared)) {
        std::uint64_t fit = (end - layout->directories) / 8;
        layout->directoryCount = static_cast<std::uint32_t>(declared < fit ? declared : fit);
    }
    layout->sectionTable = end;
    layout->sections.clear();
    for (std::uint32_t s = 0; s < sectionCount; ++s) {
        PeSection section;
        section.header =
            layout->sectionTable + static_cast<std::uint64_t>(s) * PE_SECTION_HEADER_SIZE;
        if (!Read32(bytes, section.header + 8, &section.virtualSize) ||
            !Read32(bytes, section.header + 12, &section.virtualAddress) ||
            !Read32(bytes, section.header + 16, &section.rawSize) ||
            !Read32(bytes, section.header + 20, &section.rawOffset)) {
            *error = "PE headers cut off";
            return 0;
        }
        layout->sections.push_back(section);
    }
    return 1;
}

int PeDirectory(const unsigned char* data, std::uint64_t size, const PeLayout& layout,
                std::uint32_t index, std::uint32_t* rva, std::uint32_t* length) {
    Bytes bytes{data, size};
    *rva = *length = 0;
    if (index >= layout.directoryCount) return 0;
    return Read32(bytes, layout.directories + 8ull * index, rva) &&
           Read32(bytes, layout.directories + 8ull * index + 4, length);
}

namespace {

// Walks the tree within the `limit` bytes of the section that follow its root at `base`.
struct TreeReader {
    Bytes bytes;
    std::uint64_t base;
    std::uint32_t limit;
    const PeSection& section;
    std::uint64_t usable;  // bytes of the section that are in the file and mapped
    std::set<std::uint32_t> seen;
    std::string* error;

    bool Fail(const std::string& what) {
        *error = what;
        return false;
    }

    bool Key(std::uint32_t field, PeResourceKey* key) {
        key->named = (field & NAMED_FLAG) != 0;
        if (!key->named) {
            if (field > 0xFFFF) return Fail("an id over 65535");
            key->id = field;
            return true;
        }
        std::uint32_t at = field & ~NAMED_FLAG, length = 0, unit = 0;
        if (at >= limit || !Read16(bytes, base + at, &length) || length * 2ull + 2 > limit - at)
            return Fail("a name outside the resource section");
        for (std::uint32_t k = 0; k < length; ++k) {
            Read16(bytes, base + at + 2 + 2 * k, &unit);
            key->name.push_back(static_cast<char16_t>(unit));
        }
        return true;
    }

    // The entries of the directory at `at`: each key and its OffsetToData.
    bool Directory(std::uint32_t at, std::vector<std::pair<PeResourceKey, std::uint32_t>>* out) {
        // Each directory once: a loop, or one shared by many, would never end or blow up.
        if (!seen.insert(at).second) return Fail("a directory reached twice");
        std::uint32_t named, ids;
        if (at >= limit || limit - at < 16 || !Read16(bytes, base + at + 12, &named) ||
            !Read16(bytes, base + at + 14, &ids) || (named + ids) * 8ull > limit - at - 16)
            return Fail("a directory outside the resource section");
        for (std::uint32_t k = 0; k < named + ids; ++k) {
            std::uint32_t name = 0, target = 0;
            Read32(bytes, base + at + 16 + 8ull * k, &name);
            Read32(bytes, base + at + 20 + 8ull * k, &target);
            if (((name & NAMED_FLAG) != 0) != (k < named))
                return Fail("named and id entries not where their counts put them");
            out->emplace_back();
            if (!Key(name, &out->back().first)) return false;
            out->back().second = target;
        }
        return true;
    }

    bool Data(std::uint32_t target, PeResourceData* data) {
        if (target & SUBDIRECTORY_FLAG) return Fail("a directory deeper than three levels");
        if (!seen.insert(target).second) return Fail("a data entry reached twice");
        std::uint32_t rva;
        if (target >= limit || limit - target < 16 || !Read32(bytes, base + target, &rva) ||
            !Read32(bytes, base + target + 4, &data->size) ||
            !Read32(bytes, base + target + 8, &data->codePage) ||
            !Read32(bytes, base + target + 12, &data->reserved))
            return Fail("a data entry outside the resource section");
        if (rva < section.virtualAddress || rva - section.virtualAddress > usable ||
            data->size > usable - (rva - section.virtualAddress))
            return Fail("resource data outside the resource section");
        data->offset = section.rawOffset + static_cast<std::uint64_t>(rva - section.virtualAddress);
        return true;
    }
};

}  // namespace

int ReadPeResourceTree(const unsigned char* data, std::uint64_t size, const PeLayout& layout,
                       PeResourceTree* tree, std::string* error) {
    *tree = PeResourceTree{};
    if (!PeDirectory(data, size, layout, PE_RESOURCE_DIRECTORY, &tree->rva, &tree->size) ||
        tree->rva == 0 || tree->size == 0) {
        *error = "no resource directory";
        return 0;
    }
    std::size_t s = 0;
    for (; s < layout.sections.size(); ++s) {
        const PeSection& section = layout.sections[s];
        if (tree->rva >= section.virtualAddress &&
            tree->rva - section.virtualAddress < SectionExtent(section))
            break;
    }
    if (s == layout.sections.size()) {
        *error = "resource directory outside the file's sections";
        return 0;
    }
    tree->section = s;
    const PeSection& section = layout.sections[s];
    std::uint64_t usable = SectionMapped(section);
    if (!Inside(Bytes{data, size}, section.rawOffset, usable)) {
        *error = "the resource section runs past the end of the file";
        return 0;
    }
    std::uint32_t within = tree->rva - section.virtualAddress;
    if (within >= usable) {
        *error = "resource directory outside the file's sections";
        return 0;
    }
    TreeReader in{Bytes{data, size},
                  section.rawOffset + static_cast<std::uint64_t>(within),
                  static_cast<std::uint32_t>(usable - within),
                  section,
                  usable,
                  {},
                  error};
    // Three fixed levels: type, name, language; the first two name directories.
    std::vector<std::pair<PeResourceKey, std::uint32_t>> types;
    if (!in.Directory(0, &types)) return 0;
    for (auto& [typeKey, typeTarget] : types) {
        std::vector<std::pair<PeResourceKey, std::uint32_t>> names;
        if (!(typeTarget & SUBDIRECTORY_FLAG)) return in.Fail("data where a type's names belong");
        if (!in.Directory(typeTarget & ~SUBDIRECTORY_FLAG, &names)) return 0;
        tree->types.push_back(PeResourceType{std::move(typeKey), {}});
        for (auto& [nameKey, nameTarget] : names) {
            std::vector<std::pair<PeResourceKey, std::uint32_t>> languages;
            if (!(nameTarget & SUBDIRECTORY_FLAG))
                return in.Fail("data where a resource's languages belong");
            if (!in.Directory(nameTarget & ~SUBDIRECTORY_FLAG, &languages)) return 0;
            tree->types.back().names.push_back(PeResourceName{std::move(nameKey), {}});
            for (auto& [languageKey, languageTarget] : languages) {
                PeResourceData leaf{std::move(languageKey), 0, 0, 0, 0};
                if (!in.Data(languageTarget, &leaf)) return 0;
                tree->types.back().names.back().languages.push_back(std::move(leaf));
            }
        }
    }
    return 1;
}
