// SPDX-License-Identifier: MIT
// Reading a PE image (PE32 or PE32+) from the file's bytes, with every offset checked against
// their length: its headers, its whole resource tree, and one resource such as the package's
// RCDATA 1.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Fixed by the PE format: data directory indexes and the size of a section header.
constexpr std::uint32_t PE_RESOURCE_DIRECTORY = 2;
constexpr std::uint32_t PE_SECURITY_DIRECTORY = 4;
constexpr std::uint32_t PE_RELOCATION_DIRECTORY = 5;
constexpr std::uint32_t PE_SECTION_HEADER_SIZE = 40;

struct PeResource {
    std::uint32_t offset;  // of the data in the file
    std::uint32_t size;
    std::uint32_t language;  // the language id it is stored under
};

// 1 when the bytes begin like a PE image ("MZ" and a "PE\0\0" signature where e_lfanew points).
int LooksLikePe(const unsigned char* data, std::uint64_t size);

// Finds resource `type`/`id` in the PE image. Of its languages, `language` is taken when it is
// there, else the first one. Returns 1 with the data's place in the file; 0 with the reason in
// `error` (not a PE image, no resource directory, no such resource, or a damaged directory).
int FindPeResource(const unsigned char* data, std::uint64_t size, std::uint32_t type,
                   std::uint32_t id, std::uint32_t language, PeResource* found, std::string* error);

struct PeSection {
    std::uint64_t header;  // file offset of its section header
    std::uint32_t virtualSize, virtualAddress, rawSize, rawOffset;
};

// How far a section reaches in memory from its address: the larger of its two sizes.
inline std::uint64_t SectionExtent(const PeSection& section) {
    return section.virtualSize > section.rawSize ? section.virtualSize : section.rawSize;
}

// How many of its bytes are both in the file and mapped: the raw size, or a smaller nonzero
// virtual size.
inline std::uint64_t SectionMapped(const PeSection& section) {
    return section.virtualSize != 0 && section.virtualSize < section.rawSize ? section.virtualSize
                                                                             : section.rawSize;
}

// Where a PE image's headers lie (file offsets) and its section table.
struct PeLayout {
    bool plus = false;  // PE32+
    std::uint64_t coff = 0;
    std::uint64_t optional = 0;
    std::uint32_t optionalSize = 0;
    std::uint64_t directories = 0;     // data directory 0
    std::uint32_t directoryCount = 0;  // those both NumberOfRvaAndSizes and the header hold
    std::uint64_t sectionTable = 0;
    std::vector<PeSection> sections;
    std::uint32_t initializedDataSize = 0, sectionAlignment = 0, fileAlignment = 0;
    std::uint32_t imageSize = 0, headersSize = 0;
};

// Reads the headers and the section table. Returns 1; 0 with the reason in `error`.
int ReadPeLayout(const unsigned char* data, std::uint64_t size, PeLayout* layout,
                 std::string* error);

// Data directory `index` (2: resources, 4: certificates). 0 when the image has no such slot.
int PeDirectory(const unsigned char* data, std::uint64_t size, const PeLayout& layout,
                std::uint32_t index, std::uint32_t* rva, std::uint32_t* length);

// A type, name or language: a number, or a name as its UTF-16 code units.
struct PeResourceKey {
    bool named = false;
    std::uint32_t id = 0;
    std::u16string name;
};

struct PeResourceData {
    PeResourceKey language;
    std::uint64_t offset;  // of the data in the file
    std::uint32_t size, codePage, reserved;
};

struct PeResourceName {
    PeResourceKey name;
    std::vector<PeResourceData> languages;
};

struct PeResourceType {
    PeResourceKey type;
    std::vector<PeResourceName> names;
};

struct PeResourceTree {
    std::size_t section = 0;  // index in PeLayout::sections of the section that holds it
    std::uint32_t rva = 0, size = 0;
    std::vector<PeResourceType> types;  // in stored order
};

// Reads the whole resource tree: three levels, every directory, name and data entry inside the
// resource section, no directory or data entry reached twice. Returns 1; 0 with the reason.
int ReadPeResourceTree(const unsigned char* data, std::uint64_t size, const PeLayout& layout,
                       PeResourceTree* tree, std::string* error);
