#include <zlib.h>
#include <zopfli/zopfli.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "manifest.h"
#include "package_file.h"
#include "tidepack.h"

namespace {

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

// Compresses every entry's data into its ready stream, on `threads` threads. Each thread takes
// the next entry not yet taken; the streams depend only on the data, so the order in which the
// threads finish changes nothing in the package. Returns 1 when every entry compressed.
int CompressEntries(WriterPackage* package, const BuildOptions& options, std::FILE* err) {
    std::vector<WriterEntry>& entries = package->entries;
    std::atomic<std::size_t> next{0};
    std::atomic<std::uint64_t> doneBytes{0};
    std::atomic<std::size_t> doneEntries{0};
    std::atomic<bool> failed{false};
    std::uint64_t totalBytes = 0;
    for (const WriterEntry& entry : entries) totalBytes += entry.data.size();

    auto work = [&]() {
        for (std::size_t i = next++; i < entries.size(); i = next++) {
            WriterEntry& entry = entries[i];
            int ok = options.zopfli ? ZopfliStream(entry.data, &entry.stream)
                                    : CompressStream(entry.data, Z_BEST_COMPRESSION, &entry.stream);
            if (!ok) failed = true;
            doneBytes += entry.data.size();
            ++doneEntries;
        }
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
        std::fprintf(err, "\rcompressing: %zu of %zu files, %llu of %llu MiB ", doneEntries.load(),
                     entries.size(), static_cast<unsigned long long>(doneBytes >> 20),
                     static_cast<unsigned long long>(totalBytes >> 20));
        std::fflush(err);
        shown = true;
    }
    for (std::thread& thread : threads) thread.join();
    if (shown) std::fprintf(err, "\r%60s\r", "");
    return failed ? 0 : 1;
}

}  // namespace

int BuildPackageBytes(const BuildOptions& options, ManifestResult* manifest,
                      std::vector<unsigned char>* bytes, std::FILE* err) {
    int ok = LoadManifest(options.manifest, manifest);
    for (const std::string& warning : manifest->warnings)
        std::fprintf(err, "%s\n", warning.c_str());
    for (const std::string& fault : manifest->faults) std::fprintf(err, "%s\n", fault.c_str());
    if (!ok) {
        std::fprintf(err, "tidepack: %zu fault%s in %s; nothing written\n", manifest->faults.size(),
                     manifest->faults.size() == 1 ? "" : "s", options.manifest.c_str());
        return EXIT_FAULT;
    }
    if (!CompressEntries(&manifest->package, options, err)) {
        std::fprintf(err, "tidepack: compression failed; nothing written\n");
        return EXIT_FAULT;
    }
    std::string error;
    if (!BuildPackage(manifest->package, bytes, &error)) {
        std::fprintf(err, "tidepack: %s: %s; nothing written\n", options.manifest.c_str(),
                     error.c_str());
        return EXIT_FAULT;
    }
    return 0;
}

int BuildFromManifest(const BuildOptions& options, std::FILE* out, std::FILE* err) {
    ManifestResult manifest;
    std::vector<unsigned char> bytes;
    int built = BuildPackageBytes(options, &manifest, &bytes, err);
    if (built != 0) return built;
    std::string error;
    if (!WriteFileWhole(options.output, bytes, &error)) {
        std::fprintf(err, "tidepack: %s: %s\n", options.output.c_str(), error.c_str());
        return EXIT_FAULT;
    }
    std::uint64_t data = 0;
    for (const WriterEntry& entry : manifest.package.entries) data += entry.data.size();
    std::fprintf(out, "%s: %zu files (%llu bytes) in a package of %zu bytes, %zu shortcut moves\n",
                 options.output.c_str(), manifest.package.entries.size(),
                 static_cast<unsigned long long>(data), bytes.size(),
                 manifest.package.moves.size());
    return 0;
}
