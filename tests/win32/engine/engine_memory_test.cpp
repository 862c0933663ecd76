// SPDX-License-Identifier: MIT
// The memory an apply needs: one entry's data at a time, and the package never copied. Prints
// the peak working set of a run over a package with one entry of 200 MB among small ones.
#include <windows.h>
#include <psapi.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/globals.h"
#include "engine_support.h"
#include "package/package.h"
#include "package/package_writer.h"

namespace {

constexpr std::uint32_t kBigSize = 200u * 1024 * 1024;
constexpr std::uint32_t kChunk = 1024 * 1024;

unsigned char PatternByte(std::uint32_t i) { return static_cast<unsigned char>(i * 7 + (i >> 12)); }

void FillPattern(std::uint32_t start, std::uint32_t length, unsigned char* out) {
    for (std::uint32_t k = 0; k < length; ++k) out[k] = PatternByte(start + k);
}

// The zlib stream of the big entry, made a chunk at a time so that the test itself never holds
// the 200 MB it stands for.
std::vector<unsigned char> BigStream() {
    z_stream stream = {};
    deflateInit(&stream, 6);
    std::vector<unsigned char> in(kChunk), out;
    unsigned char buffer[65536];
    for (std::uint32_t done = 0; done < kBigSize; done += kChunk) {
        FillPattern(done, kChunk, in.data());
        stream.next_in = in.data();
        stream.avail_in = kChunk;
        int flush = done + kChunk >= kBigSize ? Z_FINISH : Z_NO_FLUSH;
        do {
            stream.next_out = buffer;
            stream.avail_out = sizeof buffer;
            deflate(&stream, flush);
            out.insert(out.end(), buffer, buffer + (sizeof buffer - stream.avail_out));
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
    return out;
}

// 1 when the file holds exactly the big entry's bytes; read a chunk at a time.
int HoldsBigPattern(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    int same = GetFileSize(file, nullptr) == kBigSize;
    std::vector<unsigned char> got(kChunk), want(kChunk);
    for (std::uint32_t done = 0; same && done < kBigSize; done += kChunk) {
        DWORD read = 0;
        same = ReadFile(file, got.data(), kChunk, &read, nullptr) && read == kChunk;
        FillPattern(done, kChunk, want.data());
        same = same && got == want;
    }
    CloseHandle(file);
    return same;
}

PROCESS_MEMORY_COUNTERS Memory() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters;
}

double Megabytes(SIZE_T bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

TEST(EngineMemory, ApplyHoldsOneEntryAtATime) {
    const std::string install = MakeTestFolder("Engine Memory");
    const std::set<std::string> tempBefore = FilesIn(TempFolder(), "vq*.tmp");

    WriterPackage package;
    package.title = "Tidewell Memory";
    package.registryKey = "HKEY_CURRENT_USER\\Software\\Tidewell Engine Memory No Such Key";
    package.valueName = "InstallDir";
    package.defaultFolder = install;
    for (int i = 0; i < 5; ++i) {
        WriterEntry small;
        small.fileName = "small" + std::to_string(i) + ".bin";
        small.folder = "<InstallDir>";
        small.flags = ENTRY_ALWAYS_REPLACE;
        small.data.assign(64 * 1024, static_cast<unsigned char>('a' + i));
        package.entries.push_back(small);
    }
    WriterEntry big;
    big.fileName = "big.bin";
    big.folder = "<InstallDir>";
    big.flags = ENTRY_ALWAYS_REPLACE;
    big.data.assign(1, 0);  // its size is set below; the stream is made without the data
    big.stream = BigStream();
    const std::size_t bigStreamSize = big.stream.size();
    package.entries.insert(package.entries.begin() + 2, big);

    std::vector<unsigned char> bytes;
    std::string error;
    ASSERT_EQ(1, BuildPackage(package, &bytes, &error)) << error;
    reinterpret_cast<PackageEntry*>(bytes.data() + HEADER_SIZE + ENTRY_SIZE * 2)->size = kBigSize;
    HMODULE module = LoadPackageModule(bytes);
    ASSERT_NE(nullptr, module);
    const std::size_t packageSize = bytes.size();
    std::vector<unsigned char>().swap(bytes);
    package = WriterPackage();

    g_instance = module;
    g_done = 0;
    const PROCESS_MEMORY_COUNTERS before = Memory();
    EXPECT_EQ(1, RunUpdate(nullptr));
    const PROCESS_MEMORY_COUNTERS after = Memory();
    g_instance = nullptr;
    UnloadPackageModule(module);

    // The peak working set is the figure: Wine does not count private bytes (PeakPagefileUsage).
    std::printf(
        "apply of a %.1f MB package (one entry of %.0f MB inflated from %.1f MB, five of 64 KB):\n"
        "  peak working set %.1f MB before the run, %.1f MB after (+%.1f MB)\n",
        Megabytes(packageSize), Megabytes(kBigSize), Megabytes(bigStreamSize),
        Megabytes(before.PeakWorkingSetSize), Megabytes(after.PeakWorkingSetSize),
        Megabytes(after.PeakWorkingSetSize - before.PeakWorkingSetSize));

    EXPECT_TRUE(HoldsBigPattern(install + "\\big.bin"));
    std::vector<unsigned char> small = ReadBytes(install + "\\small4.bin");
    EXPECT_EQ(std::vector<unsigned char>(64 * 1024, 'e'), small);
    // One copy of the big entry and some slack for the runtime; two copies would pass 400 MB.
    const SIZE_T bound = kBigSize + 64u * 1024 * 1024;
    EXPECT_LT(after.PeakWorkingSetSize, before.PeakWorkingSetSize + bound);

    for (const std::string& name : FilesIn(TempFolder(), "vq*.tmp")) {
        if (!tempBefore.count(name)) DeleteFileA((TempFolder() + name).c_str());
    }
    RemoveTree(install);
}

}  // namespace
