// SPDX-License-Identifier: MIT
// Scratch folders, files and captured command output for the tidepack tests.
#pragma once

#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

struct TempDir {
    std::string path;
    TempDir() {
        char pattern[] = "/tmp/tidepack-test-XXXXXX";
        path = mkdtemp(pattern) ? pattern : "";
    }
    ~TempDir() {
        std::error_code code;
        std::filesystem::remove_all(path, code);
    }
    std::string operator/(const std::string& name) const { return path + "/" + name; }
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

struct Output {
    int code;
    std::string out;
    std::string err;
};

// Runs one command function with its output and messages captured.
inline Output Capture(const std::function<int(std::FILE*, std::FILE*)>& command) {
    char* outText = nullptr;
    char* errText = nullptr;
    std::size_t outSize = 0, errSize = 0;
    std::FILE* out = open_memstream(&outText, &outSize);
    std::FILE* err = open_memstream(&errText, &errSize);
    Output result;
    result.code = command(out, err);
    std::fclose(out);
    std::fclose(err);
    result.out.assign(outText, outSize);
    result.err.assign(errText, errSize);
    std::free(outText);
    std::free(errText);
    return result;
}

// An .ico file of one 32-bit bitmap of `side` pixels in one shade.
inline std::string Icon(unsigned side, unsigned char shade = 0x80) {
    auto le = [](std::uint32_t value, int width) {
        std::string bytes;
        for (int k = 0; k < width; ++k) bytes += static_cast<char>(value >> (8 * k));
        return bytes;
    };
    std::string image = le(40, 4) + le(side, 4) + le(2 * side, 4) + le(1, 2) + le(32, 2) +
                        std::string(24, '\0') +
                        std::string(side * side * 4, static_cast<char>(shade)) +
                        std::string((side + 31) / 32 * 4 * side, '\0');
    return le(0, 2) + le(1, 2) + le(1, 2) + static_cast<char>(side & 0xFF) +
           static_cast<char>(side & 0xFF) + le(0, 2) + le(1, 2) + le(32, 2) +
           le(static_cast<std::uint32_t>(image.size()), 4) + le(22, 4) + image;
}

// --- hand-made PE images

inline void Put16(std::string* image, std::size_t at, std::uint32_t value) {
    (*image)[at] = static_cast<char>(value);
    (*image)[at + 1] = static_cast<char>(value >> 8);
}

inline void Put32(std::string* image, std::size_t at, std::uint32_t value) {
    for (int k = 0; k < 4; ++k) (*image)[at + k] = static_cast<char>(value >> (8 * k));
}

constexpr std::size_t COFF = 0x44, OPTIONAL = COFF + 20, RAW = 0x200;
constexpr std::uint32_t SECTION_RVA = 0x1000;

inline std::size_t Directories(bool plus) { return OPTIONAL + (plus ? 112 : 96); }
inline std::size_t Section(bool plus) { return Directories(plus) + 16 * 8; }

// A minimal image: one ".rsrc" section whose directory holds a named type (to be passed over)
// and `type` (RCDATA unless given) / id 1 / `language`, with `payload` as the data.
inline std::string MakePe(bool plus, std::uint32_t language, const std::string& payload,
                          std::uint32_t type = 10) {
    std::string image(RAW + 0x70, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    Put32(&image, 0x3C, 0x40);
    std::memcpy(&image[0x40], "PE\0\0", 4);
    Put16(&image, COFF, plus ? 0x8664 : 0x14C);
    Put16(&image, COFF + 2, 1);
    Put16(&image, COFF + 16, static_cast<std::uint32_t>(Section(plus) - OPTIONAL));
    Put16(&image, OPTIONAL, plus ? 0x20B : 0x10B);
    Put32(&image, Directories(plus) - 4, 16);
    std::uint32_t rawSize = static_cast<std::uint32_t>(0x70 + payload.size());
    Put32(&image, Directories(plus) + 16, SECTION_RVA);
    Put32(&image, Directories(plus) + 20, rawSize);
    std::size_t section = Section(plus);
    std::memcpy(&image[section], ".rsrc", 5);
    Put32(&image, section + 8, rawSize);
    Put32(&image, section + 12, SECTION_RVA);
    Put32(&image, section + 16, rawSize);
    Put32(&image, section + 20, RAW);
    // root: one named entry, one id entry
    Put16(&image, RAW + 12, 1);
    Put16(&image, RAW + 14, 1);
    Put32(&image, RAW + 16, 0x80000000u | 0x60);  // name string, never read
    Put32(&image, RAW + 20, 0x80000000u | 0x20);
    Put32(&image, RAW + 24, type);
    Put32(&image, RAW + 28, 0x80000000u | 0x20);
    // 0x20: names; 0x38: languages; 0x50: the data entry
    Put16(&image, RAW + 0x20 + 14, 1);
    Put32(&image, RAW + 0x20 + 16, 1);
    Put32(&image, RAW + 0x20 + 20, 0x80000000u | 0x38);
    Put16(&image, RAW + 0x38 + 14, 1);
    Put32(&image, RAW + 0x38 + 16, language);
    Put32(&image, RAW + 0x38 + 20, 0x50);
    Put32(&image, RAW + 0x50, SECTION_RVA + 0x70);
    Put32(&image, RAW + 0x54, static_cast<std::uint32_t>(payload.size()));
    return image + payload;
}

// --- version resources, as resource compilers write them

inline std::string Utf16(const std::string& ascii) {
    std::string units;
    for (char c : ascii) units += std::string{c, '\0'};
    return units;
}

// One block of a version resource, padded to 4 bytes for the next one; wLength leaves the
// padding out, as resource compilers write it.
inline std::string VersionNode(const std::string& key, const std::string& value, bool text,
                               const std::string& children) {
    std::string block(6, '\0');
    block += Utf16(key) + std::string(2, '\0');
    block.resize((block.size() + 3) & ~std::size_t{3}, '\0');
    block += value;
    block.resize((block.size() + 3) & ~std::size_t{3}, '\0');
    block += children;
    Put16(&block, 0, static_cast<std::uint32_t>(block.size()));
    Put16(&block, 2, static_cast<std::uint32_t>(text ? value.size() / 2 : value.size()));
    Put16(&block, 4, text ? 1 : 0);
    block.resize((block.size() + 3) & ~std::size_t{3}, '\0');
    return block;
}

// A program whose ProductVersion is `version` under 0409/04B0, its version resource stored
// under `language`.
inline std::string VersionedProgram(const std::string& version, bool plus = false,
                                    std::uint32_t language = 1033) {
    std::string text =
        VersionNode("ProductVersion", Utf16(version) + std::string(2, '\0'), true, "");
    std::string strings =
        VersionNode("StringFileInfo", "", true, VersionNode("040904B0", "", true, text));
    std::string vars = VersionNode("VarFileInfo", "", false,
                                   VersionNode("Translation", "\x09\x04\xB0\x04", false, ""));
    return MakePe(plus, language, VersionNode("VS_VERSION_INFO", "", false, strings + vars), 16);
}
