// SPDX-License-Identifier: MIT
#include "program/version_resource.h"

#include <cctype>

#include "program/bounded_bytes.h"
#include "program/pe_resource.h"

namespace {

constexpr std::uint32_t RT_VERSION_TYPE = 16;
constexpr std::uint32_t VERSION_RESOURCE_ID = 1;

std::size_t Align4(std::size_t offset) { return (offset + 3) & ~std::size_t{3}; }

// One block of the tree: wLength, wValueLength, wType, its key, its value, its children.
struct VersionBlock {
    std::size_t start = 0, end = 0;  // end: start + wLength
    std::size_t keyStart = 0, keyUnits = 0;
    std::size_t valueStart = 0, valueBytes = 0;
    bool text = false;
    std::size_t children = 0;
};

bool ReadBlock(const Bytes& bytes, std::size_t start, std::size_t limit, VersionBlock* block) {
    std::uint32_t length, valueLength, type;
    if (!Read16(bytes, start, &length) || !Read16(bytes, start + 2, &valueLength) ||
        !Read16(bytes, start + 4, &type))
        return false;
    if (length < 6 || start + length > limit) return false;
    block->start = start;
    block->end = start + length;
    block->keyStart = start + 6;
    std::size_t at = block->keyStart;
    for (std::uint32_t unit = 1; unit != 0; at += 2)
        if (at + 2 > block->end || !Read16(bytes, at, &unit)) return false;
    block->keyUnits = (at - block->keyStart) / 2 - 1;
    block->valueStart = Align4(at);
    block->text = type == 1;
    // A text's length counts UTF-16 units, a binary value's bytes.
    block->valueBytes = block->text ? std::size_t{valueLength} * 2 : valueLength;
    if (block->valueStart > block->end) block->valueStart = block->end;
    if (block->valueBytes > block->end - block->valueStart)
        block->valueBytes = block->end - block->valueStart;
    block->children = Align4(block->valueStart + block->valueBytes);
    return true;
}

bool KeyIs(const Bytes& bytes, const VersionBlock& block, const std::string& name) {
    if (block.keyUnits != name.size()) return false;
    for (std::size_t k = 0; k < name.size(); ++k) {
        std::uint32_t unit = 0;
        if (!Read16(bytes, block.keyStart + 2 * k, &unit)) return false;
        unsigned char c = static_cast<unsigned char>(name[k]);
        if (unit < 0x80 ? std::tolower(static_cast<int>(unit)) != std::tolower(c) : unit != c)
            return false;
    }
    return true;
}

}  // namespace

int ReadVersionResource(const unsigned char* data, std::uint64_t size,
                        std::vector<unsigned char>* block) {
    if (!LooksLikePe(data, size)) return 0;
    PeResource resource;
    std::string error;
    if (!FindPeResource(data, size, RT_VERSION_TYPE, VERSION_RESOURCE_ID, 0, &resource, &error))
        return 0;
    std::uint32_t length;
    if (!Read16(Bytes{data + resource.offset, resource.size}, 0, &length) ||
        length > resource.size || length < 6)
        return 0;
    block->assign(data + resource.offset, data + resource.offset + length);
    return 1;
}

int FindVersionValue(const unsigned char* block, std::size_t size, const std::string& queryPath,
                     VersionValue* value) {
    Bytes bytes{block, size};
    VersionBlock current;
    if (!ReadBlock(bytes, 0, size, &current)) return 0;
    for (std::size_t from = 0; from < queryPath.size();) {
        std::size_t cut = queryPath.find('\\', from);
        if (cut == std::string::npos) cut = queryPath.size();
        std::string name = queryPath.substr(from, cut - from);
        from = cut + 1;
        if (name.empty()) continue;
        VersionBlock child;
        bool found = false;
        for (std::size_t at = current.children; at + 6 <= current.end; at = Align4(child.end)) {
            if (!ReadBlock(bytes, at, current.end, &child)) return 0;
            if (KeyIs(bytes, child, name)) {
                found = true;
                break;
            }
        }
        if (!found) return 0;
        current = child;
    }
    value->offset = current.valueStart;
    value->text = current.text;
    value->length = current.valueBytes;
    if (current.text) {
        std::size_t units = 0;
        std::uint32_t unit;
        while (2 * (units + 1) <= current.valueBytes &&
               Read16(bytes, current.valueStart + 2 * units, &unit) && unit != 0)
            ++units;
        value->length = units;
    }
    return 1;
}
