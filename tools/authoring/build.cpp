// SPDX-License-Identifier: MIT
#include "authoring/build.h"

#include <zlib.h>
#include <zopfli/zopfli.h>

// The system's header by its full path: the Windows program's decompressor builds libdeflate
// from another source tree, whose header must not stand in for the library linked here.
#include TIDEPACK_LIBDEFLATE_H

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "authoring/code_page.h"
#include "authoring/package_file.h"

namespace {

constexpr int LIBDEFLATE_LEVEL = 12;

// A zlib stream (RFC 1950) that zopfli searched harder for; every zlib inflates it.
int ZopfliStream(const std::vector<unsigned char>& data, std::vector<unsigned char>* stream) {
    ZopfliOptions options;
    ZopfliInitOptions(&options);
    unsigned char* out = nullptr;
    std::size_t size = 0;
    ZopfliCompress(&options, ZOPFLI_FORMAT_ZLIB, data.data(), data.size(), &out, &size);
    if (!out) return 0;
    stream->assign(out, out + size);
    std::free(out);
    return 1;
}

int LibdeflateStream(libdeflate_compressor* compressor, const std::vector<unsigned char>& data,
                     std::vector<unsigned char>* stream) {
    stream->resize(libdeflate_zlib_compress_bound(compressor, data.size()));
    std::size_t size = libdeflate_zlib_compress(compressor, data.data(), data.size(),
                                                stream->data(), stream->size());
    stream->resize(size);
    return size > 0;
}

// A stream counts only when zlib, the stricter of the update program's two inflaters, gives
// back exactly `data` from all of it.
bool InflatesTo(const std::vector<unsigned char>& stream, const std::vector<unsigned char>& data) {
    std::uint64_t compared = 0;
    bool same = true;
    Inflated inflated = InflateInPieces(
        stream.data(), stream.size(), data.size(), [&](const unsigned char* piece, std::size_t n) {
            same = std::memcmp(piece, data.data() + compared, n) == 0;
            compared += n;
            return same;
        });
    return same && inflated.result == Z_STREAM_END && inflated.left == 0 &&
           inflated.produced == data.size();
}

// Compresses every entry's data into its ready stream, on `threads` threads. Each thread takes
// the next entry not yet taken; the streams depend only on the data, so the order in which the
// threads finish changes nothing in the package. Returns 1 when every entry compressed.
// Threads that fail record why in `failures`, one per entry, so the message names the file.
int CompressEntries(WriterPackage* package, const BuildOptions& options,
                    std::vector<std::string>* failures) {
    std::vector<WriterEntry>& entries = package->entries;
    std::atomic<std::size_t> next{0};
    std::atomic<std::uint64_t> doneBytes{0};
    std::atomic<std::size_t> doneEntries{0};
    std::uint64_t totalBytes = 0;
    for (const WriterEntry& entry : entries) totalBytes += entry.data.size();
    failures->assign(entries.size(), "");

    auto work = [&]() {
        libdeflate_compressor* compressor = libdeflate_alloc_compressor(LIBDEFLATE_LEVEL);
        for (std::size_t i = next++; i < entries.size(); i = next++) {
            WriterEntry& entry = entries[i];
            std::string& failure = (*failures)[i];
            if (!compressor || !LibdeflateStream(compressor, entry.data, &entry.stream))
                failure = "libdeflate could not compress it";
            // On a tie libdeflate's stays, so the choice depends only on the data.
            if (failure.empty() && options.compression == Compression::Best) {
                std::vector<unsigned char> zopfli;
                if (!ZopfliStream(entry.data, &zopfli))
                    failure = "zopfli could not compress it";
                else if (zopfli.size() < entry.stream.size())
                    entry.stream.swap(zopfli);
            }
            if (failure.empty() && !InflatesTo(entry.stream, entry.data))
                failure = "its stream does not inflate with zlib to exactly its bytes";
            doneBytes += entry.data.size();
            ++doneEntries;
        }
        libdeflate_free_compressor(compressor);
    };
    unsigned count = options.threads ? options.threads : std::thread::hardware_concurrency();
    if (count == 0) count = 1;
    if (count > entries.size()) count = static_cast<unsigned>(entries.size() ? entries.size() : 1);
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < count; ++t) threads.emplace_back(work);

    // The progress line shows only when the build takes more than a moment.
    auto start = std::chrono::steady_clock::now();
    bool shown = false;
    while (options.progress && doneEntries < entries.size()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(500)) continue;
        char line[120];
        std::snprintf(line, sizeof line, "\rcompressing: %zu of %zu files, %llu of %llu MiB ",
                      doneEntries.load(), entries.size(),
                      static_cast<unsigned long long>(doneBytes >> 20),
                      static_cast<unsigned long long>(totalBytes >> 20));
        options.progress(line);
        shown = true;
    }
    for (std::thread& thread : threads) thread.join();
    if (shown) options.progress("\r" + std::string(60, ' ') + "\r");
    for (const std::string& failure : *failures)
        if (!failure.empty()) return 0;
    return 1;
}

// 1 when `data` is a Windows program or DLL for a 64-bit machine (x64, ARM64, Itanium).
bool Is64BitImage(const std::vector<unsigned char>& data) {
    auto at = [&](std::size_t offset, int bytes) {
        std::uint32_t value = 0;
        for (int k = bytes - 1; k >= 0; --k) value = (value << 8) | data[offset + k];
        return value;
    };
    if (data.size() < 0x40 || data[0] != 'M' || data[1] != 'Z') return false;
    std::uint32_t pe = at(0x3C, 4);
    if (pe > data.size() - 6 || at(pe, 4) != 0x00004550) return false;
    std::uint32_t machine = at(pe + 4, 2);
    return machine == 0x8664 || machine == 0xAA64 || machine == 0x0200;
}

// The update program is 32-bit: on 64-bit Windows <SystemDir> is SysWOW64, never the System32
// a 64-bit product's files belong in. A product is taken as 64-bit when it ships a 64-bit
// program or DLL.
std::string SystemDirOf64BitProduct(const WriterPackage& package, int codePage) {
    const WriterEntry* program = nullptr;
    std::string named;
    std::size_t count = 0;
    for (const WriterEntry& entry : package.entries) {
        if (!program && Is64BitImage(entry.data)) program = &entry;
        if (FilePlaceholderOf(entry.folder.c_str()) != 2) continue;
        if (++count <= 5)
            named += (count > 1 ? ", " : "") + DecodeText(entry.folder, codePage) + "\\" +
                     DecodeText(entry.fileName, codePage);
    }
    if (!program || count == 0) return "";
    if (count > 5) named += " and " + std::to_string(count - 5) + " more";
    return "the product is 64-bit (" + DecodeText(program->fileName, codePage) +
           " is a 64-bit image), but the update program is 32-bit: on 64-bit Windows "
           "<SystemDir> is the 32-bit system folder (SysWOW64), not System32, for " +
           Count(count, "file") + ": " + named;
}

}  // namespace

Outcome BuildPackageBytes(const BuildOptions& options, ManifestResult* manifest,
                          std::vector<unsigned char>* bytes, Report* report) {
    // The output (the package, or the program that will carry it) must not replace an input.
    std::string error;
    if (!CheckOutputPath(options.output, {options.manifest}, &error)) {
        report->Err("tidepack: %s: %s; nothing written\n", options.output.c_str(), error.c_str());
        return Outcome::Refused;
    }
    int ok = LoadManifest(options.manifest, manifest);
    for (const std::string& warning : manifest->warnings) report->Err("%s\n", warning.c_str());
    for (const std::string& fault : manifest->faults) report->Err("%s\n", fault.c_str());
    if (!ok) {
        report->Err("tidepack: %zu fault%s in %s; nothing written\n", manifest->faults.size(),
                    manifest->faults.size() == 1 ? "" : "s", options.manifest.c_str());
        return Outcome::Faulty;
    }
    if (!CheckOutputPath(options.output, manifest->sources, &error)) {
        report->Err("tidepack: %s: %s; nothing written\n", options.output.c_str(), error.c_str());
        return Outcome::Refused;
    }
    std::vector<std::string> failures;
    if (!CompressEntries(&manifest->package, options, &failures)) {
        for (std::size_t i = 0; i < failures.size(); ++i)
            if (!failures[i].empty())
                report->Err(
                    "tidepack: file %zu (%s): %s\n", i + 1,
                    DecodeText(manifest->package.entries[i].fileName, manifest->codePage).c_str(),
                    failures[i].c_str());
        report->Err("tidepack: compression failed; nothing written\n");
        return Outcome::Faulty;
    }
    std::vector<unsigned char> extras;
    if (!BuildPackage(manifest->package, bytes, &error) ||
        !BuildExtras(manifest->extras, &extras, &error)) {
        report->Err("tidepack: %s: %s; nothing written\n", options.manifest.c_str(), error.c_str());
        return Outcome::Faulty;
    }
    std::vector<std::string> warnings = {
        SystemDirOf64BitProduct(manifest->package, manifest->codePage)};
    if (manifest->executionLevel.empty()) {
        std::vector<EntryPlace> places;
        for (const WriterEntry& entry : manifest->package.entries)
            places.push_back({entry.folder, entry.fileName});
        warnings.push_back(AsInvokerWarning(manifest->package.registryKey,
                                            manifest->package.defaultFolder, places,
                                            manifest->codePage));
    }
    for (const std::string& warning : warnings)
        if (!warning.empty())
            report->Err("%s: warning: %s\n", options.manifest.c_str(), warning.c_str());
    return Outcome::Done;
}
