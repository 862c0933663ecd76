// SPDX-License-Identifier: MIT
// Writing a package into real mingw programs: what must stay, what must change, and the stubs
// that must be refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "program/pe_resource.h"
#include "program/pe_writer.h"
#include "test_support.h"
#include "commands/tidepack.h"

namespace {

using Bytes = std::vector<unsigned char>;

std::vector<std::string> FixtureArchs() {
    std::vector<std::string> archs;
    for (const char* arch : {"i686", "x86_64"})
        if (std::filesystem::exists(std::string(TIDEPACK_FIXTURES) + "/patch_" + arch + ".exe"))
            archs.push_back(arch);
    return archs;
}

Bytes Fixture(const std::string& arch) {
    std::string bytes = ReadFile(std::string(TIDEPACK_FIXTURES) + "/patch_" + arch + ".exe");
    return Bytes(bytes.begin(), bytes.end());
}

std::uint32_t Get32(const Bytes& bytes, std::uint64_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
           static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

void Set32(Bytes* bytes, std::uint64_t at, std::uint32_t value) {
    for (int k = 0; k < 4; ++k) (*bytes)[at + k] = static_cast<unsigned char>(value >> (8 * k));
}

std::string KeyText(const PeResourceKey& key) {
    return key.named ? std::string(key.name.begin(), key.name.end()) : std::to_string(key.id);
}

// Every resource by "type/name/language": its bytes and code page.
std::map<std::string, std::string> Resources(const Bytes& image) {
    PeLayout layout;
    PeResourceTree tree;
    std::string error;
    std::map<std::string, std::string> resources;
    if (!ReadPeLayout(image.data(), image.size(), &layout, &error) ||
        !ReadPeResourceTree(image.data(), image.size(), layout, &tree, &error)) {
        ADD_FAILURE() << error;
        return resources;
    }
    for (const PeResourceType& type : tree.types)
        for (const PeResourceName& name : type.names)
            for (const PeResourceData& data : name.languages) {
                EXPECT_EQ(0u, (data.offset - layout.sections[tree.section].rawOffset) % 8);
                resources[KeyText(type.type) + "/" + KeyText(name.name) + "/" +
                          KeyText(data.language)] =
                    std::string(image.begin() + data.offset,
                                image.begin() + data.offset + data.size) +
                    " cp" + std::to_string(data.codePage);
            }
    return resources;
}

// Every base relocation as (RVA, type), padding included, in stored order.
std::vector<std::pair<std::uint32_t, std::uint32_t>> Relocations(const Bytes& image,
                                                                 const PeLayout& layout) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> entries;
    std::uint32_t rva, length;
    EXPECT_EQ(1, PeDirectory(image.data(), image.size(), layout, 5, &rva, &length));
    for (const PeSection& section : layout.sections) {
        if (section.virtualAddress != rva) continue;
        for (std::uint64_t at = section.rawOffset; at < section.rawOffset + length;) {
            std::uint32_t page = Get32(image, at), size = Get32(image, at + 4);
            if (size < 8) return entries;
            for (std::uint64_t e = at + 8; e < at + size; e += 2)
                entries.emplace_back(page + (image[e] | (image[e + 1] & 0x0F) << 8),
                                     image[e + 1] >> 4);
            at += size;
        }
    }
    return entries;
}

// The checksum as the format documents it: all 16-bit words added, the carries folded back
// at the end, the checksum field counted as zero, plus the file's length.
std::uint32_t Checksum(Bytes image, std::uint64_t field) {
    Set32(&image, field, 0);
    image.push_back(0);
    std::uint64_t sum = 0;
    for (std::size_t k = 0; k + 1 < image.size(); k += 2) sum += image[k] | image[k + 1] << 8;
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint32_t>(sum + image.size() - 1);
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    std::size_t at = text.find(from);
    EXPECT_NE(std::string::npos, at) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

TEST(PeWriter, KeepsEveryOtherResourceAndSetsPackageAndLevel) {
    std::vector<std::string> archs = FixtureArchs();
    if (archs.empty()) GTEST_SKIP() << "no mingw toolchain here to link a real program";
    Bytes big(3 << 20);
    for (std::size_t k = 0; k < big.size(); ++k)
        big[k] = static_cast<unsigned char>(k * 7 + k / 251);
    for (const std::string& arch : archs) {
        // From the linked program .reloc moves into the old .rsrc's place and the new one goes
        // after it; from the written one, whose resource section is last, it is replaced, here
        // by a smaller one.
        struct Row {
            Bytes package;
            std::string level, oldLevel;
        } rows[] = {{big, "requireAdministrator", "highestAvailable"},
                    {Bytes{'p', 'k', 'g'}, "asInvoker", "requireAdministrator"}};
        Bytes stub = Fixture(arch);
        PeLayout linked;
        std::string error;
        ASSERT_EQ(1, ReadPeLayout(stub.data(), stub.size(), &linked, &error)) << error;
        auto relocations = Relocations(stub, linked);
        EXPECT_FALSE(relocations.empty());
        for (const Row& row : rows) {
            SCOPED_TRACE(arch + " " + row.level);
            Bytes program, again;
            ASSERT_EQ(1, WriteProgramResources(stub, row.package, row.level, &program, &error))
                << error;
            ASSERT_EQ(1, WriteProgramResources(stub, row.package, row.level, &again, &error));
            EXPECT_TRUE(program == again);

            std::map<std::string, std::string> expected = Resources(stub);
            expected.erase("10/1/1041");
            expected["10/1/1033"] = std::string(row.package.begin(), row.package.end()) + " cp0";
            expected["24/1/0"] = Replaced(expected["24/1/0"], "level = '" + row.oldLevel + "'",
                                          "level = '" + row.level + "'");
            EXPECT_EQ(expected, Resources(program));

            PeLayout layout;
            ASSERT_EQ(1, ReadPeLayout(program.data(), program.size(), &layout, &error));
            EXPECT_EQ(Checksum(program, layout.optional + 64),
                      Get32(program, layout.optional + 64));
            EXPECT_EQ(0u, layout.imageSize % layout.sectionAlignment);
            std::string names;
            for (const PeSection& section : layout.sections) {
                EXPECT_LE(section.virtualAddress + section.virtualSize, layout.imageSize);
                EXPECT_LE(section.rawOffset + section.rawSize, program.size());
                names += std::string(&program[section.header], &program[section.header + 8]);
            }
            EXPECT_EQ(names.size() - 8, names.find(std::string(".rsrc\0\0\0", 8)));
            EXPECT_EQ(relocations, Relocations(program, layout));
            stub = program;
        }
    }
}

TEST(PeWriter, RefusesStubsItCannotWriteSafely) {
    std::vector<std::string> archs = FixtureArchs();
    if (archs.empty()) GTEST_SKIP() << "no mingw toolchain here to link a real program";
    // Offsets in the file of the resource root and of the first resource's data entry.
    struct Places {
        PeLayout layout;
        std::uint64_t root, firstType, firstData;
    };
    struct Row {
        const char* name;
        std::function<void(Bytes&, const Places&)> damage;
        const char* error;
    } rows[] = {
        {"signed",
         [](Bytes& p, const Places& at) { Set32(&p, at.layout.directories + 4 * 8 + 4, 0x400); },
         "signed"},
        {"not a PE", [](Bytes& p, const Places&) { p[0] = 'X'; }, "not a PE32 or PE32+ program"},
        {"ROM image magic", [](Bytes& p, const Places& at) { p[at.layout.optional] = 0x07; },
         "not a PE32 or PE32+ program"},
        {"entry count past the section",
         [](Bytes& p, const Places& at) { p[at.root + 14] = p[at.root + 15] = 0xFF; },
         "does not understand: a directory outside the resource section"},
        {"a loop back to the root",
         [](Bytes& p, const Places& at) { Set32(&p, at.firstType + 20, 0x80000000u); },
         "does not understand: a directory reached twice"},
        {"types out of order",
         [](Bytes& p, const Places& at) {
             // The last two, which are ids.
             auto last = p.begin() + at.root + 16 + 8 * (p[at.root + 12] + p[at.root + 14]);
             std::swap_ranges(last - 16, last - 8, last - 8);
         },
         "ids out of order or repeated"},
        {"two levels only",
         [](Bytes& p, const Places& at) {
             Set32(&p, at.firstType + 20, Get32(p, at.firstType + 20) & 0x7FFFFFFF);
         },
         "does not understand"},
        {"data past the section",
         [](Bytes& p, const Places& at) { Set32(&p, at.firstData + 4, 0x10000000); },
         "does not understand: resource data outside"},
        {"file cut inside the resources",
         [](Bytes& p, const Places& at) { p.resize(at.firstData + 8); },
         "runs past the end of the file"},
        {"no requestedExecutionLevel outside the comment",
         [](Bytes& p, const Places&) {
             std::string text(p.begin(), p.end());
             std::size_t first = text.find("<requestedExecutionLevel");
             p[text.find("<requestedExecutionLevel", first + 1) + 1] = 'X';
         },
         "no requestedExecutionLevel"},
        {"an overlay", [](Bytes& p, const Places&) { p.push_back(1); }, "data after the last"},
        {"no room for a section header, .reloc not discardable",
         [](Bytes& p, const Places& at) {
             p[at.layout.sectionTable + 40 * at.layout.sections.size() + 1] = 1;
             p[at.layout.sections.back().header + 39] &= ~0x02;
         },
         "no room in the headers"},
    };
    for (const std::string& arch : archs) {
        Bytes stub = Fixture(arch);
        Places at;
        PeResourceTree tree;
        std::string error;
        ASSERT_EQ(1, ReadPeLayout(stub.data(), stub.size(), &at.layout, &error)) << error;
        ASSERT_EQ(1, ReadPeResourceTree(stub.data(), stub.size(), at.layout, &tree, &error));
        const PeSection& section = at.layout.sections[tree.section];
        std::uint64_t base = section.rawOffset + tree.rva - section.virtualAddress;
        at.root = base;
        at.firstType = base + (Get32(stub, base + 20) & 0x7FFFFFFF);
        std::uint64_t language = base + (Get32(stub, at.firstType + 20) & 0x7FFFFFFF);
        at.firstData = base + Get32(stub, language + 20);
        for (const Row& row : rows) {
            SCOPED_TRACE(arch + ": " + row.name);
            Bytes damaged = stub, program;
            row.damage(damaged, at);
            EXPECT_EQ(0, WriteProgramResources(damaged, {'p'}, "asInvoker", &program, &error));
            EXPECT_NE(std::string::npos, error.find(row.error)) << error;
        }
    }
}

// The level follows the registry root unless the manifest names one; a manifest fault or a
// program given as the package writes nothing.
TEST(PeWriter, ProgramCommandChoosesTheLevel) {
    std::vector<std::string> archs = FixtureArchs();
    if (archs.empty()) GTEST_SKIP() << "no mingw toolchain here to link a real program";
    TempDir dir;
    WriteFile(dir / "tool.exe", "tool");
    struct Row {
        const char* root;
        const char* line;   // an executionLevel line, or ""
        const char* level;  // in the written manifest; null: refused with `error`
        const char* error;
    } rows[] = {
        {"HKEY_LOCAL_MACHINE", "", "requireAdministrator", nullptr},
        {"HKEY_CLASSES_ROOT", "", "requireAdministrator", nullptr},
        {"HKEY_CURRENT_USER", "", "asInvoker", nullptr},
        {"HKEY_LOCAL_MACHINE", "executionLevel = 'highestAvailable'\n", "highestAvailable",
         nullptr},
        {"HKEY_CURRENT_USER", "executionLevel = 'requireAdministrator'\n", "requireAdministrator",
         nullptr},
        {"HKEY_CURRENT_USER", "executionLevel = 'admin'\n", nullptr,
         "m.toml:2:18: executionLevel must be"},
    };
    ProgramOptions options;
    options.stub = std::string(TIDEPACK_FIXTURES) + "/patch_" + archs[0] + ".exe";
    options.input = dir / "m.toml";
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.root) + " " + row.line);
        WriteFile(dir / "m.toml", std::string("codePage = 1252\n") + row.line +
                                      "title = 'Example'\nversionText = '3.0'\n"
                                      "registryKey = '" +
                                      row.root +
                                      "\\Software\\Example'\nvalueName = ''\n"
                                      "defaultFolder = 'C:\\Example'\n[[file]]\nsource = "
                                      "'tool.exe'\n");
        options.output = dir / "Patch.exe";
        std::filesystem::remove(options.output);
        Output made =
            Capture([&](std::FILE* o, std::FILE* e) { return MakeProgram(options, o, e); });
        if (!row.level) {
            EXPECT_EQ(EXIT_FAULT, made.code);
            EXPECT_NE(std::string::npos, made.err.find(row.error)) << made.err;
            EXPECT_FALSE(std::filesystem::exists(options.output));
            continue;
        }
        ASSERT_EQ(0, made.code) << made.err;
        std::string program = ReadFile(options.output);
        PeResource manifest;
        std::string error;
        ASSERT_EQ(1, FindPeResource(reinterpret_cast<const unsigned char*>(program.data()),
                                    program.size(), 24, 1, 0, &manifest, &error));
        EXPECT_NE(std::string::npos, program.substr(manifest.offset, manifest.size)
                                         .find(std::string("level = '") + row.level + "'"));
    }

    options.input = options.stub;
    Output refused =
        Capture([&](std::FILE* o, std::FILE* e) { return MakeProgram(options, o, e); });
    EXPECT_EQ(EXIT_FAULT, refused.code);
    EXPECT_NE(std::string::npos, refused.err.find("is a program, not a package")) << refused.err;
}

// The shipped program given every [program] key: its version block says the vendor's texts and
// numbers, its one icon group (the dialog's too) holds only the vendor's image, and nothing else
// changes but the package and the level.
TEST(PeWriter, ProgramCarriesTheVendorsIdentity) {
    std::string shipped =
        std::filesystem::path(TIDEPACK_PATH).parent_path() / "share/tidewell/Tidewell.exe";
    if (!std::filesystem::exists(shipped)) GTEST_SKIP() << "no shipped program beside tidepack";
    TempDir dir;
    WriteFile(dir / "tool.exe", "tool");
    std::string icon = Icon(32, 0x5A);
    WriteFile(dir / "art/patch.ico", icon);
    WriteFile(dir / "m.toml",
              "codePage = 932\ntitle = 'みなと会計'\nversionText = '3.1'\n"
              "registryKey = 'HKEY_LOCAL_MACHINE\\Software\\Minato'\nvalueName = ''\n"
              "defaultFolder = 'C:\\Minato'\n[program]\nicon = 'art/patch.ico'\n"
              "companyName = '株式会社みなとソフト'\nproductName = 'みなと会計'\n"
              "fileDescription = 'みなと会計 3.1 アップデート'\nfileVersion = '3.1.0.7'\n"
              "productVersion = '3.1'\nlegalCopyright = '© 2026 みなとソフト'\n"
              "originalFilename = 'minato-3.1-update.exe'\n[[file]]\nsource = 'tool.exe'\n");
    ProgramOptions options;
    options.stub = shipped;
    options.input = dir / "m.toml";
    options.output = dir / "Patch.exe";
    Output made = Capture([&](std::FILE* o, std::FILE* e) { return MakeProgram(options, o, e); });
    ASSERT_EQ(0, made.code) << made.err;
    std::string program = ReadFile(options.output);
    std::string stubText = ReadFile(shipped);
    Bytes stub(stubText.begin(), stubText.end());
    std::map<std::string, std::string> before = Resources(stub),
                                       after = Resources(Bytes(program.begin(), program.end()));
    // One 32x32 image of 32 bits, 4,264 bytes, as RT_ICON 1.
    std::string group = std::string("\0\0\1\0\1\0  \0\0\1\0 \0\xA8\x10\0\0\1\0", 20) + " cp0";
    EXPECT_EQ(group, after["14/107/1041"]);
    EXPECT_EQ(icon.substr(22) + " cp0", after["3/1/1041"]);
    // Only the icons, the package, the version block and the manifest change; the old images go.
    for (auto* resources : {&before, &after})
        for (const char* changed :
             {"3/1/1041", "10/1/1033", "10/3/1033", "14/107/1041", "16/1/1041", "24/1/0"})
            resources->erase(changed);
    for (const char* old : {"3/2/1041", "3/3/1041", "3/4/1041"}) before.erase(old);
    EXPECT_EQ(before, after);

    ListOptions list;
    list.path = options.output;
    Output listed = Capture([&](std::FILE* o, std::FILE* e) { return ListPackage(list, o, e); });
    for (const char* line :
         {"identity       file version: 3.1.0.7\n", "identity       product version: 3.1.0.0\n",
          "identity       InternalName: minato-3.1-update.exe\n",
          "identity       LegalCopyright: © 2026 みなとソフト\n",
          // What the customer sees, the title from the texts as UTF-16 the program carries.
          "dialog         title: みなと会計 (UTF-16: the same on every code page)\n",
          "dialog         execution level: requireAdministrator\n",
          "dialog         manifest name: minato-3.1-update\n",
          "dialog         English welcome: Welcome to the Vellumstone Patch Wizard "
          "for\\rみなと会計\n",
          "dialog         Japanese caption: みなと会計 アップデート\n",
          "dialog         Japanese explanation: "
          "3.1の更新する場合は［更新］ボタンをクリックしてください。\n"})
        EXPECT_NE(std::string::npos, listed.out.find(line)) << listed.out;

    // A build machine's gate: the same program passes verify, and fails it unsigned.
    Output verified =
        Capture([&](std::FILE* o, std::FILE* e) { return VerifyPackage(list, o, e); });
    EXPECT_EQ(0, verified.code) << verified.err;
    list.requireSignature = true;
    Output gated = Capture([&](std::FILE* o, std::FILE* e) { return VerifyPackage(list, o, e); });
    EXPECT_EQ(EXIT_FAULT, gated.code);
    EXPECT_NE(std::string::npos,
              gated.err.find("not signed, and --require-signature asks for a signed patch program"))
        << gated.err;
}

}  // namespace
