// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "corpus.h"
#include "authoring/manifest.h"
#include "package/package.h"

namespace {

constexpr std::uint64_t MiB = 1 << 20;

double Ratio(const std::vector<unsigned char>& data) {
    uLongf length = compressBound(static_cast<uLong>(data.size()));
    std::vector<unsigned char> out(length);
    EXPECT_EQ(Z_OK, compress2(out.data(), &length, data.data(), data.size(), 9));
    return static_cast<double>(length) / static_cast<double>(data.size());
}

TEST(BenchCorpus, ProductShapeHoldsAtEverySize) {
    for (std::uint64_t mib : {1u, 4u, 64u}) {
        SCOPED_TRACE("MiB " + std::to_string(mib));
        std::vector<CorpusFile> files = ProductFiles(mib);
        ASSERT_EQ(55u, files.size());
        std::uint64_t total = 0;
        int large = 0;
        std::set<std::string> targets, kinds;
        for (const CorpusFile& f : files) {
            total += f.size;
            if (f.size * 64 >= 4 * MiB * mib) ++large;
            EXPECT_LE(f.size * 64, 16 * MiB * mib) << f.name;
            EXPECT_GE(f.size, 512u) << f.name;
            EXPECT_TRUE(f.rest.empty() || f.rest == "\\data" || f.rest == "\\help" ||
                        f.rest == "\\lang")
                << f.rest;
            EXPECT_TRUE(targets.insert(f.rest + "\\" + f.name).second) << f.name;
            kinds.insert(CORPUS_KIND_NAMES[f.kind]);
        }
        EXPECT_EQ(mib * MiB, total);
        EXPECT_EQ(5, large);
        EXPECT_EQ(4u, kinds.size());
    }
}

TEST(BenchCorpus, ScaleFilesAreSmallAndDistinct) {
    for (std::uint32_t count : {10u, 1000u}) {
        SCOPED_TRACE("count " + std::to_string(count));
        std::vector<CorpusFile> files = ScaleFiles(count);
        ASSERT_EQ(count, files.size());
        std::set<std::string> names;
        for (const CorpusFile& f : files) {
            EXPECT_GE(f.size, 4096u);
            EXPECT_LT(f.size, 65536u);
            EXPECT_TRUE(names.insert(f.name).second) << f.name;
        }
    }
    // A longer series starts with the shorter one, so the cases grow by adding files only.
    EXPECT_EQ(ScaleFiles(10)[9].size, ScaleFiles(1000)[9].size);
}

// The same bytes on every run and machine: a changed generator would make results
// incomparable with the committed ones without anyone noticing.
TEST(BenchCorpus, ContentIsFixedBySeed) {
    const std::vector<CorpusFile> files = ProductFiles(64);
    const std::vector<unsigned char> first = CorpusContent(files[0], 0, 0);
    EXPECT_EQ(first, CorpusContent(files[0], 0, 0));
    ASSERT_EQ(files[0].size, first.size());
    EXPECT_EQ(0x5882eca5u, crc32(0, first.data(), 65536));

    const std::vector<unsigned char> older = CorpusContent(files[0], 0, 1);
    EXPECT_EQ(files[0].size - files[0].size / 16, older.size());
    EXPECT_NE(0, std::memcmp(first.data(), older.data(), 4096));
    EXPECT_NE(first, CorpusContent(files[0], 1, 0));
}

TEST(BenchCorpus, KindsCompressAsNamed) {
    struct Row {
        CorpusKind kind;
        double low, high;
    } rows[] = {
        {TEXT, 0.15, 0.35}, {BINARY, 0.45, 0.70}, {NOISE, 0.999, 1.01}, {SPARSE, 0.0, 0.10}};
    for (const Row& row : rows) {
        SCOPED_TRACE(CORPUS_KIND_NAMES[row.kind]);
        CorpusFile file{"", "sample", row.kind, 1 * MiB};
        double ratio = Ratio(CorpusContent(file, 7, 0));
        EXPECT_GE(ratio, row.low);
        EXPECT_LE(ratio, row.high);
    }
}

TEST(BenchCorpus, NsisScriptPutsEachFileInItsFolder) {
    const std::vector<CorpusFile> files = ProductFiles(4);
    const std::string script = NsisScript("/in", files, "x86-unicode", "lzma");
    EXPECT_NE(std::string::npos, script.find("Target x86-unicode\n"));
    EXPECT_NE(std::string::npos, script.find("SetCompressor /FINAL lzma\n"));
    EXPECT_NE(std::string::npos, script.find("SilentInstall silent\n"));
    EXPECT_NE(std::string::npos, script.find("OutFile \"/in/nsis-lzma.exe\"\n"));
    std::istringstream lines(script);
    std::string line, folder = "?";
    std::size_t next = 0;
    while (std::getline(lines, line)) {
        if (line.rfind("SetOutPath \"$INSTDIR", 0) == 0) {
            folder = line.substr(20, line.size() - 21);
        } else if (line.rfind("File \"", 0) == 0) {
            ASSERT_LT(next, files.size());
            const CorpusFile& f = files[next++];
            SCOPED_TRACE(f.name);
            EXPECT_EQ(f.rest, folder);
            EXPECT_EQ("File \"/in/new" + Slashed(f.rest) + "/" + f.name + "\"", line);
        }
    }
    EXPECT_EQ(files.size(), next);
}

// The manifest is read by the real authoring tool, as scripts/bench does.
TEST(BenchCorpus, ManifestIsWhatTidepackReads) {
    char pattern[] = "/tmp/bench-corpus-test-XXXXXX";
    ASSERT_TRUE(mkdtemp(pattern));
    const std::string dir = pattern;
    std::vector<CorpusFile> files = ScaleFiles(8);
    for (std::size_t i = 0; i < files.size(); ++i) {
        std::filesystem::create_directories(dir + "/new" + Slashed(files[i].rest));
        std::vector<unsigned char> data = CorpusContent(files[i], i, 0);
        std::ofstream(dir + "/new" + Slashed(files[i].rest) + "/" + files[i].name, std::ios::binary)
            .write(reinterpret_cast<const char*>(data.data()), data.size());
    }
    const std::string key = "HKEY_CURRENT_USER\\Software\\TidewellBench";
    std::ofstream(dir + "/manifest.toml") << CorpusManifest(files, key);

    ManifestResult result;
    int loaded = LoadManifest(dir + "/manifest.toml", &result);
    std::filesystem::remove_all(dir);
    ASSERT_EQ(1, loaded) << (result.faults.empty() ? "" : result.faults[0]);
    EXPECT_EQ(key, result.package.registryKey);
    EXPECT_EQ("InstallDir", result.package.valueName);
    ASSERT_EQ(files.size(), result.package.entries.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(files[i].name);
        const WriterEntry& entry = result.package.entries[i];
        EXPECT_EQ(files[i].name, entry.fileName);
        EXPECT_EQ("<InstallDir>" + files[i].rest, entry.folder);
        EXPECT_EQ(ENTRY_ALWAYS_REPLACE, entry.flags);
        EXPECT_EQ(files[i].size, entry.data.size());
    }
}

}  // namespace
