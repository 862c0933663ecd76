// SPDX-License-Identifier: MIT
#include "program/pe_writer.h"

#include <algorithm>
#include <cstdint>
#include <list>
#include <set>

#include "extras/extras.h"
#include "package/unicode_texts.h"
#include "package/package.h"
#include "program/pe_resource.h"

namespace {

constexpr std::uint32_t RT_ICON = 3, RT_DIALOG = 5, RT_GROUP_ICON = 14, RT_VERSION = 16,
                        RT_MANIFEST = 24;
constexpr std::uint32_t MANIFEST_ID = 1, DIALOG_ID = 103;
constexpr std::uint32_t DISCARDABLE = 0x02000000u;
constexpr std::uint32_t RELOCATION_PADDING = 0, RELOCATION_HIGHLOW = 3, RELOCATION_DIR64 = 10;
constexpr std::uint32_t HIGH_BIT = 0x80000000u;
// Initialized data, readable: what linkers give .rsrc.
constexpr std::uint32_t RESOURCE_CHARACTERISTICS = 0x40000040u;
// Far below the 4 GiB every offset and RVA must stay under.
constexpr std::uint64_t LARGEST_PROGRAM = 0x7FFFFFFFu;
// Wine maps a section whose data starts on a page boundary in the file and reads any other into
// private memory at load: for the package's section, time and memory in its size.
constexpr std::uint64_t PAGE = 0x1000;

void Put16(std::vector<unsigned char>* bytes, std::uint64_t at, std::uint32_t value) {
    (*bytes)[at] = static_cast<unsigned char>(value);
    (*bytes)[at + 1] = static_cast<unsigned char>(value >> 8);
}

void Put32(std::vector<unsigned char>* bytes, std::uint64_t at, std::uint32_t value) {
    for (int k = 0; k < 4; ++k) (*bytes)[at + k] = static_cast<unsigned char>(value >> (8 * k));
}

std::uint64_t AlignUp(std::uint64_t value, std::uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

// Little-endian, `width` bytes; the caller has checked they are there.
std::uint64_t Get(const std::vector<unsigned char>& bytes, std::uint64_t at, int width) {
    std::uint64_t value = 0;
    for (int k = width - 1; k >= 0; --k) value = value << 8 | bytes[at + k];
    return value;
}

bool PowerOfTwo(std::uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

bool IsId(const PeResourceKey& key, std::uint32_t id) { return !key.named && key.id == id; }

// Sets `attribute` of the first `element` outside comments and CDATA to `value`; every other
// byte stays. Returns 0 when there is no such element or attribute.
int SetAttribute(const std::string& xml, const std::string& element, const std::string& wanted,
                 const std::string& value, std::string* out) {
    std::size_t at = 0;
    for (;;) {
        std::size_t open = xml.find('<', at);
        if (open == std::string::npos) return 0;
        for (const auto& [begin, end] :
             {std::make_pair("<!--", "-->"), std::make_pair("<![CDATA[", "]]>")}) {
            if (xml.compare(open, std::char_traits<char>::length(begin), begin) != 0) continue;
            std::size_t close = xml.find(end, open);
            if (close == std::string::npos) return 0;
            open = std::string::npos;
            at = close + 3;
            break;
        }
        if (open == std::string::npos) continue;
        std::size_t nameEnd = xml.find_first_of(" \t\r\n/>", open + 1);
        if (nameEnd == std::string::npos) return 0;
        std::string name = xml.substr(open + 1, nameEnd - open - 1);
        std::size_t colon = name.rfind(':');  // a namespace prefix
        if (name.substr(colon == std::string::npos ? 0 : colon + 1) != element) {
            at = nameEnd;
            continue;
        }
        // Its attributes, up to the end of the tag.
        const char* blank = " \t\r\n";
        std::size_t p = nameEnd;
        for (;;) {
            p = xml.find_first_not_of(blank, p);
            if (p == std::string::npos || xml[p] == '/' || xml[p] == '>') return 0;
            std::size_t attributeEnd = xml.find_first_of(" \t\r\n=/>", p);
            if (attributeEnd == std::string::npos) return 0;
            std::string attribute = xml.substr(p, attributeEnd - p);
            p = xml.find_first_not_of(blank, attributeEnd);
            if (p == std::string::npos || xml[p] != '=') return 0;
            p = xml.find_first_not_of(blank, p + 1);
            if (p == std::string::npos || (xml[p] != '"' && xml[p] != '\'')) return 0;
            std::size_t valueEnd = xml.find(xml[p], p + 1);
            if (valueEnd == std::string::npos) return 0;
            if (attribute == wanted) {
                *out = xml.substr(0, p + 1) + value + xml.substr(valueEnd);
                return 1;
            }
            p = valueEnd + 1;
        }
    }
}

// A resource as it goes into the new section: its bytes are the stub's, the package or a
// rewritten manifest.
struct Leaf {
    PeResourceKey language;
    const unsigned char* data;
    std::size_t size;
    std::uint32_t codePage, reserved;
};

struct Name {
    PeResourceKey name;
    std::vector<Leaf> languages;
};

struct Type {
    PeResourceKey type;
    std::vector<Name> names;
};

const PeResourceKey& KeyOf(const Type& type) { return type.type; }
const PeResourceKey& KeyOf(const Name& name) { return name.name; }
const PeResourceKey& KeyOf(const Leaf& leaf) { return leaf.language; }
const PeResourceKey& KeyOf(const PeResourceType& type) { return type.type; }
const PeResourceKey& KeyOf(const PeResourceName& name) { return name.name; }
const PeResourceKey& KeyOf(const PeResourceData& data) { return data.language; }

// The entry with id `id` among `entries`, added where it belongs when there is none: after
// the named ones, in id order.
template <typename Entry>
Entry& IdEntry(std::vector<Entry>* entries, std::uint32_t id) {
    std::size_t at = 0;
    while (at < entries->size() && (KeyOf((*entries)[at]).named || KeyOf((*entries)[at]).id < id))
        ++at;
    if (at == entries->size() || !IsId(KeyOf((*entries)[at]), id))
        entries->insert(entries->begin() + static_cast<long>(at),
                        Entry{PeResourceKey{false, id, {}}, {}});
    return (*entries)[at];
}

// A name's bytes in the section: its length, then its UTF-16 code units.
std::uint64_t StringSize(const PeResourceKey& key) {
    return key.named ? 2 + 2 * static_cast<std::uint64_t>(key.name.size()) : 0;
}

// The section's bytes for `types` at `rva`: every directory first (breadth first), then the
// data entries, then the names, then the data, each piece 8-byte aligned as linkers place it.
std::vector<unsigned char> LayOut(const std::vector<Type>& types, std::uint32_t rva) {
    std::uint64_t directories = 16 + 8ull * types.size(), leaves = 0, strings = 0;
    for (const Type& type : types) {
        directories += 16 + 8ull * type.names.size();
        strings += StringSize(type.type);
        for (const Name& name : type.names) {
            directories += 16 + 8ull * name.languages.size();
            leaves += name.languages.size();
            strings += StringSize(name.name);
            for (const Leaf& leaf : name.languages) strings += StringSize(leaf.language);
        }
    }
    std::uint64_t dataStart = AlignUp(directories + 16 * leaves + strings, 8), total = dataStart;
    for (const Type& type : types)
        for (const Name& name : type.names)
            for (const Leaf& leaf : name.languages) total = AlignUp(total, 8) + leaf.size;

    std::vector<unsigned char> bytes(total, 0);
    std::uint64_t nextDirectory = 0, nextLeaf = directories, nextString = directories + 16 * leaves;
    std::uint64_t nextData = dataStart;
    auto key = [&](const PeResourceKey& k) -> std::uint32_t {
        if (!k.named) return k.id;
        std::uint64_t at = nextString;
        Put16(&bytes, at, static_cast<std::uint32_t>(k.name.size()));
        for (std::size_t c = 0; c < k.name.size(); ++c) Put16(&bytes, at + 2 + 2 * c, k.name[c]);
        nextString += StringSize(k);
        return HIGH_BIT | static_cast<std::uint32_t>(at);
    };
    // Header of a directory of `entries`; gives where its entries go.
    auto directory = [&](const auto& entries) {
        std::uint64_t at = nextDirectory;
        std::uint32_t named = 0;
        for (const auto& entry : entries) named += KeyOf(entry).named ? 1 : 0;
        Put16(&bytes, at + 12, named);
        Put16(&bytes, at + 14, static_cast<std::uint32_t>(entries.size()) - named);
        nextDirectory += 16 + 8ull * entries.size();
        return at + 16;
    };
    std::uint64_t rootEntries = directory(types);
    std::vector<std::uint64_t> typeEntries;
    for (std::size_t t = 0; t < types.size(); ++t) {
        Put32(&bytes, rootEntries + 8 * t, key(types[t].type));
        Put32(&bytes, rootEntries + 8 * t + 4,
              HIGH_BIT | static_cast<std::uint32_t>(nextDirectory));
        typeEntries.push_back(directory(types[t].names));
    }
    for (std::size_t t = 0; t < types.size(); ++t) {
        for (std::size_t n = 0; n < types[t].names.size(); ++n) {
            const Name& name = types[t].names[n];
            Put32(&bytes, typeEntries[t] + 8 * n, key(name.name));
            Put32(&bytes, typeEntries[t] + 8 * n + 4,
                  HIGH_BIT | static_cast<std::uint32_t>(nextDirectory));
            std::uint64_t languageEntries = directory(name.languages);
            for (std::size_t l = 0; l < name.languages.size(); ++l) {
                const Leaf& leaf = name.languages[l];
                Put32(&bytes, languageEntries + 8 * l, key(leaf.language));
                Put32(&bytes, languageEntries + 8 * l + 4, static_cast<std::uint32_t>(nextLeaf));
                nextData = AlignUp(nextData, 8);
                Put32(&bytes, nextLeaf, rva + static_cast<std::uint32_t>(nextData));
                Put32(&bytes, nextLeaf + 4, static_cast<std::uint32_t>(leaf.size));
                Put32(&bytes, nextLeaf + 8, leaf.codePage);
                Put32(&bytes, nextLeaf + 12, leaf.reserved);
                nextLeaf += 16;
                if (leaf.size) std::copy(leaf.data, leaf.data + leaf.size, &bytes[nextData]);
                nextData += leaf.size;
            }
        }
    }
    return bytes;
}

// The loader's checksum: 16-bit words summed with their carries folded back, then the length.
std::uint32_t PeChecksum(const std::vector<unsigned char>& image) {
    std::uint64_t sum = 0;
    std::size_t even = image.size() & ~static_cast<std::size_t>(1);
    for (std::size_t k = 0; k < even; k += 2) {
        sum += image[k] | static_cast<std::uint32_t>(image[k + 1]) << 8;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    if (even < image.size()) sum += image[even];
    sum = (sum & 0xFFFF) + (sum >> 16);
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint32_t>(sum + image.size());
}

// File offset of `width` bytes at `rva` in one section's raw data.
bool FileOffset(const PeLayout& layout, std::uint64_t rva, std::uint64_t width,
                std::uint64_t* offset) {
    for (const PeSection& section : layout.sections) {
        if (rva < section.virtualAddress ||
            rva + width > section.virtualAddress + SectionMapped(section))
            continue;
        *offset = section.rawOffset + (rva - section.virtualAddress);
        return true;
    }
    return false;
}

// Whether `relocations`, right after `resources` in memory, may move down to where `resources`
// begins. Only directory 5 may name its address, and no relocation may patch either section or
// hold an address inside them, for those would change under it. Anything unexpected: no.
bool RelocationsMayMove(const std::vector<unsigned char>& stub, const PeLayout& layout,
                        const PeSection& resources, const PeSection& relocations) {
    std::uint32_t rva, length;
    if (!PeDirectory(stub.data(), stub.size(), layout, PE_RELOCATION_DIRECTORY, &rva, &length) ||
        rva != relocations.virtualAddress || length == 0 || length != relocations.virtualSize ||
        length > relocations.rawSize || !(Get(stub, relocations.header + 36, 4) & DISCARDABLE))
        return false;
    std::uint64_t begin = resources.virtualAddress;
    std::uint64_t end = std::max<std::uint64_t>(
        std::uint64_t{relocations.virtualAddress} + relocations.rawSize, layout.imageSize);
    auto outside = [&](std::uint64_t at, std::uint64_t width) {
        return at + width <= begin || at >= end;
    };
    for (std::uint32_t d = 0; d < layout.directoryCount; ++d) {
        std::uint32_t other, otherLength;
        // The certificate table's entry is a file offset, and a signed stub is refused anyway.
        if (d == PE_RESOURCE_DIRECTORY || d == PE_RELOCATION_DIRECTORY ||
            d == PE_SECURITY_DIRECTORY)
            continue;
        if (!PeDirectory(stub.data(), stub.size(), layout, d, &other, &otherLength)) return false;
        if (other != 0 && !outside(other, std::max<std::uint64_t>(otherLength, 1))) return false;
    }
    std::uint64_t imageBase =
        layout.plus ? Get(stub, layout.optional + 24, 8) : Get(stub, layout.optional + 28, 4);
    std::uint64_t at = relocations.rawOffset, stop = at + length;
    while (at < stop) {
        if (stop - at < 8) return false;
        std::uint64_t page = Get(stub, at, 4), blockSize = Get(stub, at + 4, 4);
        if (blockSize < 8 || blockSize % 2 != 0 || blockSize > stop - at) return false;
        for (std::uint64_t e = at + 8; e < at + blockSize; e += 2) {
            std::uint64_t entry = Get(stub, e, 2), type = entry >> 12,
                          place = page + (entry & 0xFFF);
            if (type == RELOCATION_PADDING) continue;
            int width = type == RELOCATION_HIGHLOW ? 4 : type == RELOCATION_DIR64 ? 8 : 0;
            std::uint64_t offset;
            if (width == 0 || !outside(place, width) ||
                !FileOffset(layout, place, width, &offset) ||
                !outside(Get(stub, offset, width) - imageBase, 1))
                return false;
        }
        at += blockSize;
    }
    return true;
}

// The stub's headers and section table, when the writer can take them: unsigned, with sane
// alignments and its section table inside SizeOfHeaders. Returns 1; 0 with the reason.
int ReadStubLayout(const std::vector<unsigned char>& stub, PeLayout* layout, std::string* error) {
    const unsigned char* data = stub.empty() ? nullptr : stub.data();
    if (!ReadPeLayout(data, stub.size(), layout, error)) {
        *error = "not a PE32 or PE32+ program: " + *error;
        return 0;
    }
    std::uint32_t rva, length;
    if (PeDirectory(data, stub.size(), *layout, PE_SECURITY_DIRECTORY, &rva, &length) &&
        (rva != 0 || length != 0)) {
        *error = "the program is signed, and the signature would not survive; give it unsigned";
        return 0;
    }
    if (!PowerOfTwo(layout->fileAlignment) || !PowerOfTwo(layout->sectionAlignment) ||
        layout->fileAlignment > layout->sectionAlignment) {
        *error =
            "file and section alignment are not powers of two, the first not above the "
            "second";
        return 0;
    }
    if (layout->headersSize <
        layout->sectionTable + PE_SECTION_HEADER_SIZE * layout->sections.size()) {
        *error = "SizeOfHeaders does not cover the section table";
        return 0;
    }
    return 1;
}

// Where the stub's headers and section data end in the file. Everything past it would be cut
// off or left behind the new section, so only zero padding may follow. Returns 1; 0 with the
// reason.
int FindFileEnd(const std::vector<unsigned char>& stub, const PeLayout& layout,
                std::uint64_t* fileEnd, std::string* error) {
    *fileEnd = layout.headersSize;
    for (const PeSection& section : layout.sections) {
        if (section.rawSize == 0) continue;
        std::uint64_t end = static_cast<std::uint64_t>(section.rawOffset) + section.rawSize;
        if (end > stub.size()) {
            *error = "a section's data runs past the end of the file";
            return 0;
        }
        if (end > *fileEnd) *fileEnd = end;
    }
    if (*fileEnd > stub.size()) {
        *error = "the headers run past the end of the file";
        return 0;
    }
    for (std::uint64_t k = *fileEnd; k < stub.size(); ++k) {
        if (stub[k] != 0) {
            *error =
                "data after the last section (symbols or an overlay); give a stripped program "
                "without it";
            return 0;
        }
    }
    return 1;
}

// Windows finds a resource by a binary search, and IdEntry adds one where that search looks:
// both need a directory's named entries first and its ids strictly ascending.
template <typename Entry>
bool InOrder(const std::vector<Entry>& entries) {
    for (std::size_t at = 1; at < entries.size(); ++at) {
        const PeResourceKey &before = KeyOf(entries[at - 1]), &key = KeyOf(entries[at]);
        if (!key.named && !before.named && before.id >= key.id) return false;
        if (key.named && !before.named) return false;
    }
    return true;
}

bool InOrder(const PeResourceTree& tree) {
    if (!InOrder(tree.types)) return false;
    for (const PeResourceType& type : tree.types) {
        if (!InOrder(type.names)) return false;
        for (const PeResourceName& name : type.names)
            if (!InOrder(name.languages)) return false;
    }
    return true;
}

// The stub's tree as the new section holds it, with the level (and a `manifestName` given) set in
// its manifest. The rewritten texts go into `manifests`, which the leaves point into. Returns 1; 0
// with the reason.
int CopyTreeWithLevel(const unsigned char* data, const PeResourceTree& tree,
                      const std::string& executionLevel, const std::string& manifestName,
                      std::list<std::string>* manifests, std::vector<Type>* types,
                      std::string* error) {
    if (!InOrder(tree)) {
        *error =
            "a stub whose resources it does not understand: a directory's ids out of order or "
            "repeated";
        return 0;
    }
    bool manifestSet = false;
    for (const PeResourceType& type : tree.types) {
        types->push_back(Type{type.type, {}});
        for (const PeResourceName& name : type.names) {
            types->back().names.push_back(Name{name.name, {}});
            bool isManifest = IsId(type.type, RT_MANIFEST) && IsId(name.name, MANIFEST_ID);
            for (const PeResourceData& resource : name.languages) {
                Leaf leaf{resource.language, data + resource.offset, resource.size,
                          resource.codePage, resource.reserved};
                if (isManifest) {
                    std::string text, named;
                    if (!SetAttribute(std::string(leaf.data, leaf.data + leaf.size),
                                      "requestedExecutionLevel", "level", executionLevel, &text)) {
                        *error =
                            "the stub's manifest (RT_MANIFEST 1) has no requestedExecutionLevel "
                            "with a level attribute";
                        return 0;
                    }
                    if (!manifestName.empty()) {
                        if (!SetAttribute(text, "assemblyIdentity", "name", manifestName, &named)) {
                            *error =
                                "the stub's manifest (RT_MANIFEST 1) has no assemblyIdentity "
                                "with a name attribute";
                            return 0;
                        }
                        text = std::move(named);
                    }
                    manifests->push_back(std::move(text));
                    leaf.data = reinterpret_cast<const unsigned char*>(manifests->back().data());
                    leaf.size = manifests->back().size();
                    manifestSet = true;
                }
                types->back().names.back().languages.push_back(leaf);
            }
        }
    }
    if (!manifestSet) {
        *error = "the stub has no manifest (RT_MANIFEST 1) to carry the execution level";
        return 0;
    }
    return 1;
}

// The identity's texts and numbers in every version block, its icon in place of the first
// group's images under the ids those leave free. New bytes live in `made`. Returns 1; 0 with
// the reason.
int PutIdentity(const ProgramIdentity& identity, std::list<std::vector<unsigned char>>* made,
                std::vector<Type>* types, std::string* error) {
    bool texts = identity.haveFileVersion || !identity.strings.empty(), written = false;
    for (Type& type : *types) {
        if (!IsId(type.type, RT_VERSION) || !texts) continue;
        written = true;
        for (Name& name : type.names)
            for (Leaf& leaf : name.languages) {
                made->emplace_back();
                if (!RewriteVersionBlock(leaf.data, leaf.size, identity, &made->back(), error))
                    return 0;
                leaf.data = made->back().data();
                leaf.size = made->back().size();
            }
    }
    if (texts && !written) {
        *error = "the stub has no version block (RT_VERSION) for [program]'s texts";
        return 0;
    }
    // The dialog's texts, in the template of each language they are given for.
    std::set<std::uint32_t> languages, rewritten;
    for (const DialogText& text : identity.dialogTexts) languages.insert(text.language);
    for (Type& type : *types) {
        if (!IsId(type.type, RT_DIALOG) || languages.empty()) continue;
        for (Name& name : type.names) {
            if (!IsId(name.name, DIALOG_ID)) continue;
            for (Leaf& leaf : name.languages) {
                if (leaf.language.named || !languages.count(leaf.language.id)) continue;
                made->emplace_back();
                if (!RewriteDialogTemplate(leaf.data, leaf.size,
                                           static_cast<std::uint16_t>(leaf.language.id),
                                           identity.dialogTexts, &made->back(), error))
                    return 0;
                leaf.data = made->back().data();
                leaf.size = made->back().size();
                rewritten.insert(leaf.language.id);
            }
        }
    }
    for (std::uint32_t language : languages)
        if (!rewritten.count(language)) {
            *error = "the stub has no dialog " + std::to_string(DIALOG_ID) + " in language " +
                     std::to_string(language) + " for [program]'s dialog texts";
            return 0;
        }
    if (identity.icon.empty()) return 1;
    std::vector<IconImage> images;
    if (!ReadIcon(identity.icon, &images, error)) {
        *error = "the icon " + *error;
        return 0;
    }
    // Added first, as it may move the types the group is found among.
    std::vector<Name>& icons = IdEntry(types, RT_ICON).names;
    Type* groups = nullptr;
    for (Type& type : *types)
        if (IsId(type.type, RT_GROUP_ICON) && !type.names.empty()) groups = &type;
    if (!groups || groups->names[0].languages.empty()) {
        *error = "the stub has no icon group (RT_GROUP_ICON) to replace";
        return 0;
    }
    // The old images go unless another group still names them.
    Name& group = groups->names[0];
    std::set<std::uint32_t> old, kept;
    for (const Leaf& leaf : group.languages)
        for (std::uint16_t id : IconGroupIds(leaf.data, leaf.size)) old.insert(id);
    for (std::size_t n = 1; n < groups->names.size(); ++n)
        for (const Leaf& leaf : groups->names[n].languages)
            for (std::uint16_t id : IconGroupIds(leaf.data, leaf.size)) kept.insert(id);
    icons.erase(std::remove_if(icons.begin(), icons.end(),
                               [&](const Name& icon) {
                                   return !icon.name.named && old.count(icon.name.id) &&
                                          !kept.count(icon.name.id);
                               }),
                icons.end());
    PeResourceKey language = group.languages[0].language;
    std::vector<std::uint16_t> ids;
    for (std::uint32_t id = 1; ids.size() < images.size(); ++id) {
        if (id > 0xFFFF) {
            *error = "no free ids for the icon's images";
            return 0;
        }
        bool used = false;
        for (const Name& icon : icons) used = used || IsId(icon.name, id);
        if (used) continue;
        ids.push_back(static_cast<std::uint16_t>(id));
        Name& image = IdEntry(&icons, id);
        const IconImage& from = images[ids.size() - 1];
        image.languages = {Leaf{language, identity.icon.data() + from.offset, from.size, 0, 0}};
    }
    made->push_back(IconGroup(identity.icon, images, ids));
    for (Leaf& leaf : group.languages) {
        leaf.data = made->back().data();
        leaf.size = made->back().size();
    }
    return 1;
}

bool IsExtras(const Leaf& leaf) {
    const ExtrasHeader* header;
    return GetExtrasHeader(ExtrasImage{leaf.data, static_cast<std::uint32_t>(leaf.size)}, &header);
}

bool IsUnicodeTexts(const Leaf& leaf) {
    const UnicodeTextsHeader* header;
    return GetUnicodeTextsHeader(
        UnicodeTextsImage{leaf.data, static_cast<std::uint32_t>(leaf.size)}, &header);
}

// RCDATA `id` holding `bytes`, or, when empty, none of ours: a stub's own resource of that id
// that `ours` does not read is its own, which the update program reads as none.
void PutBeside(std::uint32_t id, bool (*ours)(const Leaf&), const std::vector<unsigned char>& bytes,
               std::vector<Name>* names) {
    if (bytes.empty()) {
        names->erase(std::remove_if(names->begin(), names->end(),
                                    [&](const Name& other) {
                                        if (other.name.named || other.name.id != id) return false;
                                        for (const Leaf& leaf : other.languages)
                                            if (ours(leaf)) return true;
                                        return false;
                                    }),
                     names->end());
        return;
    }
    IdEntry(names, id).languages = {Leaf{PeResourceKey{false, PACKAGE_RESOURCE_LANGUAGE, {}},
                                         bytes.data(), bytes.size(), 0, 0}};
}

// RCDATA 1 holding only the package, its type and name added where their ids place them; RCDATA
// 2 holding the steps beside it and RCDATA 3 the texts as UTF-16, each only where there are any
// (a stub's own of ours is dropped).
void PutPackage(const std::vector<unsigned char>& package, const std::vector<unsigned char>& extras,
                const std::vector<unsigned char>& texts, std::vector<Type>* types) {
    std::vector<Name>& names = IdEntry(types, PACKAGE_RESOURCE_TYPE).names;
    Name& name = IdEntry(&names, PACKAGE_RESOURCE_ID);
    name.languages = {Leaf{PeResourceKey{false, PACKAGE_RESOURCE_LANGUAGE, {}},
                           package.empty() ? nullptr : package.data(), package.size(), 0, 0}};
    PutBeside(EXTRAS_RESOURCE_ID, IsExtras, extras, &names);
    PutBeside(UNICODE_TEXTS_RESOURCE_ID, IsUnicodeTexts, texts, &names);
}

// Where the new section goes, and what makes room for it.
struct Placement {
    bool replace = false;  // it takes the old resource section's place
    bool move = false;     // the relocations take that place, and it follows them
    std::uint64_t rva = 0, file = 0;
    std::uint64_t header = 0;           // file offset of its section header
    std::uint64_t relocationsFile = 0;  // with `move`: where the relocations' data goes
};

// The end of the image in memory: of the headers and of every section, aligned.
std::uint64_t MemoryEnd(const PeLayout& layout) {
    std::uint64_t memoryEnd = AlignUp(layout.headersSize, layout.sectionAlignment);
    for (const PeSection& section : layout.sections) {
        std::uint64_t end =
            AlignUp(section.virtualAddress + SectionExtent(section), layout.sectionAlignment);
        if (end > memoryEnd) memoryEnd = end;
    }
    return memoryEnd;
}

// Whether the sections but the last, and the last, lie before section `old` both in memory
// and in the file.
void SectionsBefore(const PeLayout& layout, std::size_t old, bool* othersBefore, bool* lastBefore) {
    const PeSection& resources = layout.sections[old];
    const std::size_t last = layout.sections.size() - 1;
    *othersBefore = *lastBefore = true;
    for (std::size_t s = 0; s < layout.sections.size(); ++s) {
        if (s == old) continue;
        const PeSection& section = layout.sections[s];
        bool before = section.virtualAddress < resources.virtualAddress &&
                      (section.rawSize == 0 ||
                       static_cast<std::uint64_t>(section.rawOffset) + section.rawSize <=
                           resources.rawOffset);
        if (s == last)
            *lastBefore = before;
        else
            *othersBefore = *othersBefore && before;
    }
}

// Whether another section header fits at `header`: inside the headers, before any section's
// data, over bytes that are all zero.
bool HeaderSlotFree(const std::vector<unsigned char>& stub, const PeLayout& layout,
                    std::uint64_t header) {
    std::uint64_t firstData = layout.headersSize;
    for (const PeSection& section : layout.sections)
        if (section.rawSize != 0 && section.rawOffset < firstData) firstData = section.rawOffset;
    bool free = layout.sections.size() < 0xFFFF && header + PE_SECTION_HEADER_SIZE <= firstData;
    for (std::uint64_t k = header; free && k < header + PE_SECTION_HEADER_SIZE; ++k)
        free = stub[k] == 0;
    return free;
}

// The old section is replaced when it is last in memory and in the file and holds nothing
// else. When only the relocations follow it, they take its place and the new section goes
// after them: only directory 5 names their address. In any other layout a section after it may
// be named by RVAs in code or tables, so none moves and the new section is added after them
// all, the old bytes left unused. Returns 1; 0 with the reason.
int PlaceSection(const std::vector<unsigned char>& stub, const PeLayout& layout,
                 const PeResourceTree& tree, std::uint64_t fileEnd, Placement* place,
                 std::string* error) {
    const PeSection& old = layout.sections[tree.section];
    const std::size_t last = layout.sections.size() - 1;
    const PeSection& relocations = layout.sections[last];
    bool onlyResources = old.virtualAddress == tree.rva && tree.size >= old.virtualSize;
    bool othersBefore, lastBefore;
    SectionsBefore(layout, tree.section, &othersBefore, &lastBefore);
    place->replace = onlyResources && othersBefore && lastBefore;
    // The table must stay in ascending RVA order: the relocations' header takes the old one's
    // slot, the new section's header theirs.
    place->move = onlyResources && othersBefore && !lastBefore && tree.section + 1 == last &&
                  relocations.virtualAddress > old.virtualAddress &&
                  relocations.rawOffset >= old.rawOffset &&
                  RelocationsMayMove(stub, layout, old, relocations);
    place->relocationsFile = AlignUp(old.rawOffset, layout.fileAlignment);
    // Page-aligned in the file: a multiple of every file alignment a PE image may have below it.
    std::uint64_t fileAlignment = std::max<std::uint64_t>(layout.fileAlignment, PAGE);
    if (place->replace) {
        place->rva = old.virtualAddress;
        place->file = AlignUp(old.rawOffset, fileAlignment);
        place->header = old.header;
    } else if (place->move) {
        place->rva =
            AlignUp(old.virtualAddress + SectionExtent(relocations), layout.sectionAlignment);
        place->file = AlignUp(place->relocationsFile + relocations.rawSize, fileAlignment);
        place->header = relocations.header;
    } else {
        place->rva = MemoryEnd(layout);
        place->file = AlignUp(fileEnd, fileAlignment);
        place->header =
            layout.sectionTable + PE_SECTION_HEADER_SIZE * std::uint64_t{layout.sections.size()};
        if (!HeaderSlotFree(stub, layout, place->header)) {
            *error = "no room in the headers for another section header";
            return 0;
        }
    }
    return 1;
}

// The stub's bytes up to the new section, with the relocations in the old section's place
// when they move there, then the section padded to the file alignment.
void CopyWithSection(const std::vector<unsigned char>& stub, const PeLayout& layout,
                     const PeSection& old, const Placement& place,
                     const std::vector<unsigned char>& section, std::uint64_t rawSize,
                     std::vector<unsigned char>* out) {
    // Nothing of the old section is kept in the padding before the new one.
    std::uint64_t kept = place.move      ? place.relocationsFile
                         : place.replace ? old.rawOffset
                                         : place.file;
    out->assign(stub.begin(),
                stub.begin() + static_cast<long>(std::min<std::uint64_t>(kept, stub.size())));
    out->resize(kept, 0);
    if (place.move) {
        const PeSection& relocations = layout.sections.back();
        auto from = stub.begin() + static_cast<long>(relocations.rawOffset);
        out->insert(out->end(), from, from + static_cast<long>(relocations.rawSize));
        std::copy(stub.begin() + static_cast<long>(relocations.header),
                  stub.begin() + static_cast<long>(relocations.header + PE_SECTION_HEADER_SIZE),
                  out->begin() + static_cast<long>(old.header));
        Put32(out, old.header + 12, old.virtualAddress);
        Put32(out, old.header + 20, static_cast<std::uint32_t>(place.relocationsFile));
        Put32(out, layout.directories + 8 * PE_RELOCATION_DIRECTORY, old.virtualAddress);
    }
    out->resize(place.file, 0);
    out->insert(out->end(), section.begin(), section.end());
    out->resize(place.file + rawSize, 0);
}

// The new section's header, and the headers that describe the whole image to match; the
// checksum last, over all the rest.
void UpdateHeaders(const PeLayout& layout, const PeSection& old, const Placement& place,
                   std::uint64_t sectionSize, std::uint64_t rawSize, std::uint64_t imageSize,
                   std::vector<unsigned char>* out) {
    std::fill(out->begin() + static_cast<long>(place.header),
              out->begin() + static_cast<long>(place.header + PE_SECTION_HEADER_SIZE), 0);
    const char name[8] = {'.', 'r', 's', 'r', 'c'};
    std::copy(name, name + 8, out->begin() + static_cast<long>(place.header));
    Put32(out, place.header + 8, static_cast<std::uint32_t>(sectionSize));
    Put32(out, place.header + 12, static_cast<std::uint32_t>(place.rva));
    Put32(out, place.header + 16, static_cast<std::uint32_t>(rawSize));
    Put32(out, place.header + 20, static_cast<std::uint32_t>(place.file));
    Put32(out, place.header + 36, RESOURCE_CHARACTERISTICS);
    if (!place.replace && !place.move)
        Put16(out, layout.coff + 2, static_cast<std::uint32_t>(layout.sections.size() + 1));
    std::int64_t initialized =
        static_cast<std::int64_t>(layout.initializedDataSize) + static_cast<std::int64_t>(rawSize) -
        (place.replace || place.move ? static_cast<std::int64_t>(old.rawSize) : 0);
    Put32(out, layout.optional + 8,
          static_cast<std::uint32_t>(
              initialized < 0 ? 0 : std::min<std::int64_t>(initialized, 0xFFFFFFFFu)));
    Put32(out, layout.optional + 56, static_cast<std::uint32_t>(imageSize));
    Put32(out, layout.directories + 8 * PE_RESOURCE_DIRECTORY,
          static_cast<std::uint32_t>(place.rva));
    Put32(out, layout.directories + 8 * PE_RESOURCE_DIRECTORY + 4,
          static_cast<std::uint32_t>(sectionSize));
    Put32(out, layout.optional + 64, 0);
    Put32(out, layout.optional + 64, PeChecksum(*out));
}

}  // namespace

int WriteProgramResources(const std::vector<unsigned char>& stub,
                          const std::vector<unsigned char>& package,
                          const std::string& executionLevel, std::vector<unsigned char>* program,
                          std::string* error, const ProgramIdentity* identity,
                          const std::vector<unsigned char>& extras,
                          const std::vector<unsigned char>& texts) {
    if (executionLevel != "asInvoker" && executionLevel != "highestAvailable" &&
        executionLevel != "requireAdministrator") {
        *error = "unknown execution level '" + executionLevel + "'";
        return 0;
    }
    const unsigned char* data = stub.empty() ? nullptr : stub.data();
    PeLayout layout;
    std::uint64_t fileEnd;
    PeResourceTree tree;
    if (!ReadStubLayout(stub, &layout, error) || !FindFileEnd(stub, layout, &fileEnd, error))
        return 0;
    if (!ReadPeResourceTree(data, stub.size(), layout, &tree, error)) {
        *error = "a stub whose resources it does not understand: " + *error;
        return 0;
    }
    std::list<std::string> manifests;
    std::vector<Type> types;
    if (!CopyTreeWithLevel(data, tree, executionLevel, identity ? identity->manifestName : "",
                           &manifests, &types, error))
        return 0;
    std::list<std::vector<unsigned char>> made;
    if (identity && !PutIdentity(*identity, &made, &types, error)) return 0;
    PutPackage(package, extras, texts, &types);

    Placement place;
    if (!PlaceSection(stub, layout, tree, fileEnd, &place, error)) return 0;
    if (place.rva > LARGEST_PROGRAM || place.file > LARGEST_PROGRAM ||
        package.size() > LARGEST_PROGRAM) {
        *error = "the program would be larger than 2 GiB";
        return 0;
    }
    std::vector<unsigned char> section = LayOut(types, static_cast<std::uint32_t>(place.rva));
    std::uint64_t rawSize = AlignUp(section.size(), layout.fileAlignment);
    std::uint64_t imageSize = AlignUp(place.rva + section.size(), layout.sectionAlignment);
    if (place.file + rawSize > LARGEST_PROGRAM || imageSize > LARGEST_PROGRAM) {
        *error = "the program would be larger than 2 GiB";
        return 0;
    }
    const PeSection& old = layout.sections[tree.section];
    CopyWithSection(stub, layout, old, place, section, rawSize, program);
    UpdateHeaders(layout, old, place, section.size(), rawSize, imageSize, program);
    return 1;
}
