// SPDX-License-Identifier: MIT
#include "program/identity.h"

#include <algorithm>
#include <cstring>

#include "program/bounded_bytes.h"
#include "program/pe_resource.h"

namespace {

constexpr std::uint32_t RT_ICON = 3, RT_GROUP_ICON = 14, RT_VERSION = 16;
constexpr std::uint32_t FIXED_SIGNATURE = 0xFEEF04BDu;
constexpr std::size_t FIXED_SIZE = 52;
constexpr std::size_t LARGEST_ICON_SIDE = 256;

std::uint32_t Get(const std::vector<unsigned char>& bytes, std::size_t at, int width) {
    std::uint32_t value = 0;
    for (int k = width - 1; k >= 0; --k) value = value << 8 | bytes[at + k];
    return value;
}

void Append(std::vector<unsigned char>* out, std::uint32_t value, int width) {
    for (int k = 0; k < width; ++k) out->push_back(static_cast<unsigned char>(value >> (8 * k)));
}

void Put16(std::vector<unsigned char>* out, std::size_t at, std::uint32_t value) {
    (*out)[at] = static_cast<unsigned char>(value);
    (*out)[at + 1] = static_cast<unsigned char>(value >> 8);
}

std::string Utf8(const std::u16string& units) {
    std::string text;
    for (std::size_t k = 0; k < units.size(); ++k) {
        std::uint32_t c = units[k];
        if (c >= 0xD800 && c < 0xDC00 && k + 1 < units.size() && units[k + 1] >= 0xDC00 &&
            units[k + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (units[++k] - 0xDC00);
        else if (c >= 0xD800 && c < 0xE000)
            c = 0xFFFD;
        if (c < 0x80) {
            text += static_cast<char>(c);
        } else if (c < 0x800) {
            text += static_cast<char>(0xC0 | c >> 6);
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            text += static_cast<char>(0xE0 | c >> 12);
            text += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            text += static_cast<char>(0xF0 | c >> 18);
            text += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            text += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return text;
}

std::u16string Units(const char* ascii) {
    return std::u16string(ascii, ascii + std::strlen(ascii));
}

// A node of a version block: its key, its value as stored (wType 1: text), its children.
struct VersionNode {
    std::u16string key;
    std::uint32_t type = 0, valueLength = 0;
    std::vector<unsigned char> value;
    std::vector<VersionNode> children;
};

std::size_t Align4(std::size_t at) { return (at + 3) & ~static_cast<std::size_t>(3); }

// Reads the node at `at`, inside `end`; four levels at most, as the block has.
bool ReadNode(const std::vector<unsigned char>& bytes, std::size_t at, std::size_t end, int depth,
              VersionNode* node, std::size_t* length) {
    if (depth > 4 || at + 6 > end) return false;
    *length = Get(bytes, at, 2);
    std::size_t nodeEnd = at + *length;
    if (*length < 6 || nodeEnd > end) return false;
    node->valueLength = Get(bytes, at + 2, 2);
    node->type = Get(bytes, at + 4, 2);
    std::size_t p = at + 6;
    for (;; p += 2) {
        if (p + 2 > nodeEnd) return false;
        std::uint32_t unit = Get(bytes, p, 2);
        if (unit == 0) break;
        node->key.push_back(static_cast<char16_t>(unit));
    }
    p = Align4(p + 2);
    std::size_t valueBytes = node->type == 1 ? node->valueLength * 2u : node->valueLength;
    if (p > nodeEnd) p = nodeEnd;
    // Some writers count a text's bytes rather than its characters.
    if (node->type == 1 && valueBytes > nodeEnd - p) valueBytes = nodeEnd - p;
    if (valueBytes > nodeEnd - p) return false;
    node->value.assign(bytes.begin() + static_cast<long>(p),
                       bytes.begin() + static_cast<long>(p + valueBytes));
    if (node->type == 1 && depth == 4) return true;  // a String: a leaf
    for (p = Align4(p + valueBytes); p < nodeEnd; p = Align4(p)) {
        node->children.emplace_back();
        std::size_t childLength;
        if (!ReadNode(bytes, p, nodeEnd, depth + 1, &node->children.back(), &childLength))
            return false;
        p += childLength;
    }
    return true;
}

// The node at the end of `out`, which is 4-aligned from the block's start; its length last.
bool WriteNode(const VersionNode& node, std::vector<unsigned char>* out) {
    std::size_t start = out->size();
    Append(out, 0, 2);
    Append(out, node.valueLength, 2);
    Append(out, node.type, 2);
    for (char16_t unit : node.key) Append(out, unit, 2);
    Append(out, 0, 2);
    out->resize(Align4(out->size()), 0);
    out->insert(out->end(), node.value.begin(), node.value.end());
    for (const VersionNode& child : node.children) {
        out->resize(Align4(out->size()), 0);
        if (!WriteNode(child, out)) return false;
    }
    std::size_t length = out->size() - start;
    if (length > 0xFFFF) return false;
    Put16(out, start, static_cast<std::uint32_t>(length));
    return true;
}

VersionNode TextNode(const std::u16string& key, const std::u16string& text) {
    VersionNode node;
    node.key = key;
    node.type = 1;
    node.valueLength = static_cast<std::uint32_t>(text.size() + 1);
    for (char16_t unit : text) Append(&node.value, unit, 2);
    Append(&node.value, 0, 2);
    return node;
}

// The text a String node holds, up to its NUL.
std::u16string NodeText(const VersionNode& node) {
    std::u16string text;
    for (std::size_t k = 0; k + 1 < node.value.size(); k += 2) {
        char16_t unit = static_cast<char16_t>(Get(node.value, k, 2));
        if (unit == 0) break;
        text.push_back(unit);
    }
    return text;
}

bool ReadBlock(const unsigned char* data, std::size_t size, VersionNode* root) {
    std::vector<unsigned char> bytes(data, data + size);
    std::size_t length;
    return ReadNode(bytes, 0, size, 1, root, &length) && root->key == Units("VS_VERSION_INFO");
}

void SetNumbers(std::vector<unsigned char>* fixed, std::size_t at, const std::uint16_t v[4]) {
    fixed->erase(fixed->begin() + static_cast<long>(at),
                 fixed->begin() + static_cast<long>(at + 8));
    std::vector<unsigned char> numbers;
    Append(&numbers, static_cast<std::uint32_t>(v[0]) << 16 | v[1], 4);
    Append(&numbers, static_cast<std::uint32_t>(v[2]) << 16 | v[3], 4);
    fixed->insert(fixed->begin() + static_cast<long>(at), numbers.begin(), numbers.end());
}

std::string Dotted(std::uint32_t high, std::uint32_t low) {
    return std::to_string(high >> 16) + "." + std::to_string(high & 0xFFFF) + "." +
           std::to_string(low >> 16) + "." + std::to_string(low & 0xFFFF);
}

}  // namespace

int ReadIcon(const std::vector<unsigned char>& ico, std::vector<IconImage>* images,
             std::string* error) {
    images->clear();
    if (ico.size() > ICON_FILE_LIMIT) {
        *error = "is " + std::to_string(ico.size()) + " bytes; an icon is at most " +
                 std::to_string(ICON_FILE_LIMIT) + " bytes";
        return 0;
    }
    if (ico.size() < 6 || Get(ico, 0, 2) != 0 || Get(ico, 2, 2) != 1 || Get(ico, 4, 2) == 0 ||
        6 + 16 * Get(ico, 4, 2) > ico.size()) {
        *error = "is not an .ico file (no icon directory at its start)";
        return 0;
    }
    static const unsigned char png[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    for (std::size_t k = 0, count = Get(ico, 4, 2); k < count; ++k) {
        std::size_t entry = 6 + 16 * k;
        IconImage image{ico[entry] ? ico[entry] : 256u,
                        ico[entry + 1] ? ico[entry + 1] : 256u,
                        ico[entry + 2],
                        Get(ico, entry + 4, 2),
                        Get(ico, entry + 6, 2),
                        Get(ico, entry + 12, 4),
                        Get(ico, entry + 8, 4)};
        std::string which = "image " + std::to_string(k + 1);
        if (image.offset > ico.size() || image.size > ico.size() - image.offset ||
            image.size < 24) {
            *error = "is not an .ico file (" + which + " lies outside it)";
            return 0;
        }
        std::size_t at = image.offset, width, height;
        if (std::memcmp(&ico[at], png, 8) == 0) {
            width = Get(ico, at + 16, 1) << 24 | Get(ico, at + 17, 1) << 16 |
                    Get(ico, at + 18, 1) << 8 | ico[at + 19];
            height = Get(ico, at + 20, 1) << 24 | Get(ico, at + 21, 1) << 16 |
                     Get(ico, at + 22, 1) << 8 | ico[at + 23];
        } else if (Get(ico, at, 4) == 40 && image.size >= 40) {
            // A bitmap's height counts its colour and mask halves together.
            width = Get(ico, at + 4, 4);
            height = Get(ico, at + 8, 4) / 2;
            if (image.planes == 0) image.planes = Get(ico, at + 12, 2);
            if (image.bitCount == 0) image.bitCount = Get(ico, at + 14, 2);
        } else {
            *error = "is not an .ico file (" + which + " is neither a bitmap nor a PNG image)";
            return 0;
        }
        if (width > LARGEST_ICON_SIDE || height > LARGEST_ICON_SIDE) {
            *error = "is too large: " + which + " is " + std::to_string(width) + "x" +
                     std::to_string(height) + "; an icon's images are at most 256x256";
            return 0;
        }
        images->push_back(image);
    }
    return 1;
}

std::string Utf8Of(const std::u16string& units) { return Utf8(units); }

int ParseVersion(const std::string& text, bool exactlyFour, std::uint16_t numbers[4]) {
    std::size_t part = 0, at = 0;
    for (int k = 0; k < 4; ++k) numbers[k] = 0;
    while (part < 4) {
        std::size_t end = text.find('.', at);
        std::string piece = text.substr(at, end == std::string::npos ? end : end - at);
        if (piece.empty() || piece.size() > 5 ||
            piece.find_first_not_of("0123456789") != std::string::npos ||
            std::stoul(piece) > 0xFFFF)
            return 0;
        numbers[part++] = static_cast<std::uint16_t>(std::stoul(piece));
        if (end == std::string::npos) break;
        at = end + 1;
        if (part == 4) return 0;
    }
    return exactlyFour ? part == 4 : 1;
}

int Utf16(const std::string& text, std::u16string* units) {
    units->clear();
    for (std::size_t k = 0; k < text.size();) {
        unsigned char lead = static_cast<unsigned char>(text[k]);
        int more = lead < 0x80             ? 0
                   : (lead & 0xE0) == 0xC0 ? 1
                   : (lead & 0xF0) == 0xE0 ? 2
                   : (lead & 0xF8) == 0xF0 ? 3
                                           : -1;
        if (more < 0 || k + more >= text.size()) return 0;
        std::uint32_t c = more == 0 ? lead : lead & (0x3F >> more);
        for (int m = 1; m <= more; ++m) {
            unsigned char next = static_cast<unsigned char>(text[k + m]);
            if ((next & 0xC0) != 0x80) return 0;
            c = c << 6 | (next & 0x3F);
        }
        k += static_cast<std::size_t>(more) + 1;
        if (c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) return 0;
        if (c >= 0x10000) {
            units->push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            units->push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            units->push_back(static_cast<char16_t>(c));
        }
    }
    return 1;
}

int RewriteVersionBlock(const unsigned char* data, std::size_t size,
                        const ProgramIdentity& identity, std::vector<unsigned char>* out,
                        std::string* error) {
    VersionNode root;
    if (!ReadBlock(data, size, &root)) {
        *error = "a version block (RT_VERSION) it does not understand";
        return 0;
    }
    if (identity.haveFileVersion || identity.haveProductVersion) {
        if (root.value.size() != FIXED_SIZE || Get(root.value, 0, 4) != FIXED_SIGNATURE) {
            *error = "a version block (RT_VERSION) without its fixed part";
            return 0;
        }
        if (identity.haveFileVersion) SetNumbers(&root.value, 8, identity.fileVersion);
        if (identity.haveProductVersion) SetNumbers(&root.value, 16, identity.productVersion);
    }
    VersionNode* strings = nullptr;
    for (VersionNode& child : root.children)
        if (child.key == Units("StringFileInfo")) strings = &child;
    if (!strings && !identity.strings.empty()) {
        VersionNode info;
        info.key = Units("StringFileInfo");
        info.type = 1;
        root.children.insert(root.children.begin(), info);
        strings = &root.children.front();
    }
    // A block without a table gets one in no particular language, in UTF-16.
    if (strings && strings->children.empty() && !identity.strings.empty()) {
        strings->children.emplace_back();
        strings->children.back().key = Units("000004b0");
        strings->children.back().type = 1;
    }
    std::vector<VersionNode> none;
    for (VersionNode& table : strings ? strings->children : none) {
        for (const auto& [key, value] : identity.strings) {
            std::u16string units, name = Units(key.c_str());
            Utf16(value, &units);
            VersionNode text = TextNode(name, units);
            bool found = false;
            for (VersionNode& node : table.children)
                if (node.key == name) {
                    node = text;
                    found = true;
                }
            if (!found) table.children.push_back(text);
        }
    }
    out->clear();
    if (!WriteNode(root, out)) {
        *error = "the version block would be over 64 KiB";
        return 0;
    }
    return 1;
}

std::vector<unsigned char> IconGroup(const std::vector<unsigned char>& ico,
                                     const std::vector<IconImage>& images,
                                     const std::vector<std::uint16_t>& ids) {
    std::vector<unsigned char> group;
    Append(&group, 0, 2);
    Append(&group, 1, 2);
    Append(&group, static_cast<std::uint32_t>(images.size()), 2);
    for (std::size_t k = 0; k < images.size(); ++k) {
        // As the .ico has them, a side of 256 as 0.
        group.insert(group.end(), ico.begin() + 6 + 16 * static_cast<long>(k),
                     ico.begin() + 6 + 16 * static_cast<long>(k) + 4);
        Append(&group, images[k].planes, 2);
        Append(&group, images[k].bitCount, 2);
        Append(&group, static_cast<std::uint32_t>(images[k].size), 4);
        Append(&group, ids[k], 2);
    }
    return group;
}

std::vector<std::uint16_t> IconGroupIds(const unsigned char* data, std::size_t size) {
    std::vector<std::uint16_t> ids;
    Bytes bytes{data, size};
    std::uint32_t count = 0, id = 0;
    if (!Read16(bytes, 4, &count)) return ids;
    for (std::uint32_t k = 0; k < count && Read16(bytes, 6 + 14ull * k + 12, &id); ++k)
        ids.push_back(static_cast<std::uint16_t>(id));
    return ids;
}

namespace {

// The resource tree of a program's bytes; 0 when they are no PE image or it cannot be read.
int ReadProgramResources(const std::vector<unsigned char>& bytes, PeResourceTree* tree) {
    const unsigned char* data = bytes.empty() ? nullptr : bytes.data();
    PeLayout layout;
    std::string error;
    return LooksLikePe(data, bytes.size()) && ReadPeLayout(data, bytes.size(), &layout, &error) &&
           ReadPeResourceTree(data, bytes.size(), layout, tree, &error);
}

// The bits per pixel of RT_ICON `id` when it is a PNG image (bit depth times channels, from
// its IHDR); 0 when it is not one.
std::uint32_t PngBits(const unsigned char* data, const PeResourceTree& tree, std::uint32_t id) {
    static const unsigned char png[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    for (const PeResourceType& type : tree.types) {
        if (type.type.named || type.type.id != RT_ICON) continue;
        for (const PeResourceName& name : type.names) {
            if (name.name.named || name.name.id != id || name.languages.empty()) continue;
            const PeResourceData& image = name.languages[0];
            if (image.size < 26 || std::memcmp(data + image.offset, png, 8) != 0) return 0;
            // Colour types 0 grey, 2 RGB, 3 palette, 4 grey and alpha, 6 RGBA.
            static const std::uint32_t channels[7] = {1, 0, 3, 1, 2, 0, 4};
            std::uint32_t depth = data[image.offset + 24], colour = data[image.offset + 25];
            return colour < 7 ? depth * channels[colour] : 0;
        }
    }
    return 0;
}

}  // namespace

void ReportIdentity(const std::string& path, const std::vector<unsigned char>& bytes, bool listing,
                    Report* report) {
    const unsigned char* data = bytes.empty() ? nullptr : bytes.data();
    PeResourceTree tree;
    if (!ReadProgramResources(bytes, &tree)) return;
    // What Windows shows: the first of each, in the first language stored.
    const PeResourceData* version = nullptr;
    const PeResourceData* group = nullptr;
    for (const PeResourceType& type : tree.types) {
        if (type.type.named || type.names.empty() || type.names[0].languages.empty()) continue;
        if (type.type.id == RT_VERSION) version = &type.names[0].languages[0];
        if (type.type.id == RT_GROUP_ICON) group = &type.names[0].languages[0];
    }
    std::vector<std::pair<std::string, std::string>> items;
    VersionNode root;
    if (version && ReadBlock(data + version->offset, version->size, &root)) {
        if (root.value.size() == FIXED_SIZE && Get(root.value, 0, 4) == FIXED_SIGNATURE) {
            items.emplace_back("file version",
                               Dotted(Get(root.value, 8, 4), Get(root.value, 12, 4)));
            items.emplace_back("product version",
                               Dotted(Get(root.value, 16, 4), Get(root.value, 20, 4)));
        }
        for (const VersionNode& info : root.children)
            if (info.key == Units("StringFileInfo") && !info.children.empty())
                for (const VersionNode& text : info.children[0].children)
                    if (!NodeText(text).empty())
                        items.emplace_back(Utf8(text.key), Utf8(NodeText(text)));
    }
    if (group) {
        std::string sizes;
        Bytes directory{data + group->offset, group->size};
        std::uint32_t count = 0, width = 0, height = 0, bits = 0, id = 0;
        Read16(directory, 4, &count);
        for (std::uint32_t k = 0; k < count; ++k) {
            if (!Read16(directory, 6 + 14ull * k, &width) ||
                !Read16(directory, 6 + 14ull * k + 6, &bits) ||
                !Read16(directory, 6 + 14ull * k + 12, &id))
                break;
            // A PNG image's own header says its depth; the directory's count may not.
            std::uint32_t pngBits = PngBits(data, tree, id);
            if (pngBits) bits = pngBits;
            height = width >> 8;
            width &= 0xFF;
            sizes += std::string(sizes.empty() ? "" : ", ") + std::to_string(width ? width : 256) +
                     "x" + std::to_string(height ? height : 256) + " " + std::to_string(bits) +
                     "-bit";
        }
        items.emplace_back("icon", std::to_string(count) + (count == 1 ? " image" : " images") +
                                       (sizes.empty() ? "" : ": " + sizes));
    }
    if (items.empty()) return;
    if (listing) {
        for (const auto& [key, value] : items)
            report->Out("identity       %s: %s\n", key.c_str(), value.c_str());
        return;
    }
    std::string line;
    for (const auto& [key, value] : items)
        line += (line.empty() ? "" : "; ") + key + " '" + value + "'";
    report->Out("%s: identity: %s\n", path.c_str(), line.c_str());
}

int FindNotices(const std::vector<unsigned char>& bytes, std::uint64_t* offset,
                std::uint32_t* size) {
    PeResourceTree tree;
    if (!ReadProgramResources(bytes, &tree)) return 0;
    for (const PeResourceType& type : tree.types) {
        if (!type.type.named || type.type.name != u"NOTICES") continue;
        for (const PeResourceName& name : type.names)
            if (!name.name.named && name.name.id == 1 && !name.languages.empty()) {
                *offset = name.languages[0].offset;
                *size = name.languages[0].size;
                return 1;
            }
    }
    return 0;
}

std::string ManifestNameFor(const std::string& companyName, const std::string& productName,
                            const std::string& originalFilename) {
    if ((companyName + productName + originalFilename).empty()) return "";
    // Windows reads the name as an assembly's: safe in any part are these alone.
    auto part = [](const std::string& text) {
        std::string kept;
        for (char c : text)
            if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                c == '-' || c == '_')
                kept += c;
        return kept;
    };
    std::string name;
    for (const std::string& text : {companyName, productName})
        if (!part(text).empty()) name += (name.empty() ? "" : ".") + part(text);
    if (name.empty()) {
        std::string stem = originalFilename.substr(0, originalFilename.rfind('.'));
        for (std::size_t at = 0; at <= stem.size();) {
            std::size_t dot = std::min(stem.find('.', at), stem.size());
            std::string piece = part(stem.substr(at, dot - at));
            if (!piece.empty()) name += (name.empty() ? "" : ".") + piece;
            at = dot + 1;
        }
    }
    return name.empty() ? "Update" : name;
}

namespace {

constexpr std::uint32_t DS_SETFONT_STYLE = 0x40;

// Past an sz_Or_Ord field at `at` (none, 0xFFFF and an ordinal, or a NUL-terminated UTF-16
// text); 0 when it runs off the template.
std::size_t SkipSzOrOrd(const unsigned char* data, std::size_t size, std::size_t at) {
    if (at + 2 > size) return 0;
    std::uint32_t first = data[at] | data[at + 1] << 8;
    if (first == 0xFFFF) return at + 4 <= size ? at + 4 : 0;
    for (; at + 2 <= size; at += 2)
        if (data[at] == 0 && data[at + 1] == 0) return at + 2;
    return 0;
}

}  // namespace

int RewriteDialogTemplate(const unsigned char* data, std::size_t size, std::uint16_t language,
                          const std::vector<DialogText>& texts, std::vector<unsigned char>* out,
                          std::string* error) {
    auto get16 = [data](std::size_t at) { return std::uint32_t(data[at] | data[at + 1] << 8); };
    if (size >= 4 && get16(0) == 1 && get16(2) == 0xFFFF) {
        *error = "its dialog is an extended template (DIALOGEX), which tidepack does not rewrite";
        return 0;
    }
    const char* damaged = "its dialog template is damaged";
    if (size < 18) {
        *error = damaged;
        return 0;
    }
    std::uint32_t style = get16(0) | get16(2) << 16, count = get16(8);
    // The menu, the class, the caption, and with DS_SETFONT the point size and the font.
    std::size_t at = 18;
    for (int field = 0; field < 3 && at; ++field) at = SkipSzOrOrd(data, size, at);
    if (at && (style & DS_SETFONT_STYLE)) at = at + 2 <= size ? SkipSzOrOrd(data, size, at + 2) : 0;
    if (!at) {
        *error = damaged;
        return 0;
    }
    out->assign(data, data + at);
    std::vector<bool> used(texts.size(), false);
    for (std::uint32_t item = 0; item < count; ++item) {
        at = (at + 3) & ~std::size_t{3};
        while (out->size() % 4) out->push_back(0);
        if (at + 18 > size) {
            *error = damaged;
            return 0;
        }
        std::uint32_t id = get16(at + 16);
        std::size_t title = SkipSzOrOrd(data, size, at + 18);
        std::size_t titleEnd = title ? SkipSzOrOrd(data, size, title) : 0;
        if (!titleEnd || titleEnd + 2 > size || get16(titleEnd) != 0) {
            *error = titleEnd ? "its dialog template has creation data, which tidepack does not "
                                "rewrite"
                              : damaged;
            return 0;
        }
        out->insert(out->end(), data + at, data + title);
        const DialogText* given = nullptr;
        for (std::size_t k = 0; k < texts.size(); ++k)
            if (texts[k].language == language && texts[k].control == id) {
                given = &texts[k];
                used[k] = true;
            }
        if (given) {
            std::u16string units;
            Utf16(given->text, &units);
            for (char16_t unit : units) {
                out->push_back(static_cast<unsigned char>(unit));
                out->push_back(static_cast<unsigned char>(unit >> 8));
            }
            out->insert(out->end(), {0, 0});
        } else {
            out->insert(out->end(), data + title, data + titleEnd);
        }
        out->insert(out->end(), {0, 0});  // no creation data
        at = titleEnd + 2;
    }
    for (std::size_t k = 0; k < texts.size(); ++k)
        if (texts[k].language == language && !used[k]) {
            *error = "its dialog has no control " + std::to_string(texts[k].control) +
                     " for the text given";
            return 0;
        }
    return 1;
}
