// SPDX-License-Identifier: MIT
// Writes the benchmark's inputs (corpus.h):
//
//   bench_corpus product DIR [--mib N]   a product-like update: 55 files, N MiB in all (64)
//   bench_corpus scale DIR COUNT         COUNT small files (4 to 64 KiB each)
//   bench_corpus big DIR MB              one file of MB million bytes
//
// Each writes DIR/new (the files the update brings), DIR/old (the installed older version:
// the same names with other bytes), DIR/files.tsv (folder rest, name, size), the NSIS scripts
// DIR/nsis-zlib.nsi and DIR/nsis-lzma.nsi that install DIR/new, the authoring tool's manifest
// DIR/manifest.toml, and with --package FILE a package of DIR/new made by the package writer
// at zlib level 9. Options: --nsis-target T (amd64-unicode or x86-unicode), --install-key K.
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "corpus.h"
#include "package/package.h"
#include "package/package_writer.h"

namespace {

bool MakeFolder(const std::string& path) {
    return mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

bool WriteWhole(const std::string& path, const std::vector<unsigned char>& data) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = data.empty() || std::fwrite(data.data(), 1, data.size(), f) == data.size();
    return std::fclose(f) == 0 && ok;
}

bool WriteText(const std::string& path, const std::string& text) {
    return WriteWhole(path, std::vector<unsigned char>(text.begin(), text.end()));
}

int Fail(const std::string& what) {
    std::fprintf(stderr, "bench_corpus: %s\n", what.c_str());
    return 1;
}

int Usage() {
    return Fail(
        "usage: bench_corpus product|scale|big DIR [N] [--mib N] [--package FILE] "
        "[--nsis-target T] [--install-key K]");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    std::string what = argv[1], dir = argv[2];
    std::string packagePath, nsisTarget = "amd64-unicode";
    std::string installKey = "HKEY_CURRENT_USER\\Software\\TidewellBench";
    std::uint64_t mib = 64, number = 0;
    int i = 3;
    if (what != "product") {
        if (argc < 4) return Usage();
        number = std::strtoull(argv[3], nullptr, 10);
        i = 4;
    }
    for (; i < argc; ++i) {
        std::string option = argv[i];
        if (i + 1 >= argc) return Usage();
        std::string value = argv[++i];
        if (option == "--mib")
            mib = std::strtoull(value.c_str(), nullptr, 10);
        else if (option == "--package")
            packagePath = value;
        else if (option == "--nsis-target")
            nsisTarget = value;
        else if (option == "--install-key")
            installKey = value;
        else
            return Usage();
    }

    std::vector<CorpusFile> files;
    if (what == "product" && mib > 0 && mib <= 1024)
        files = ProductFiles(mib);
    else if (what == "scale" && number > 0 && number <= 100000)
        files = ScaleFiles(number);
    else if (what == "big" && number > 0 && number <= 2000)
        files = {{"", "huge.bin", BINARY, number * 1000000}};
    else
        return Usage();

    for (const char* top : {"", "/new", "/old"}) {
        if (!MakeFolder(dir + top)) return Fail("cannot make " + dir + top);
    }
    for (const CorpusFile& f : files) {
        for (const char* top : {"/new", "/old"}) {
            if (!MakeFolder(dir + top + Slashed(f.rest)))
                return Fail("cannot make " + dir + top + Slashed(f.rest));
        }
    }

    WriterPackage package;
    package.title = "Tidewell Bench";
    package.versionText = "2.0.0";
    package.registryKey = installKey;
    package.valueName = "InstallDir";
    package.defaultFolder = "C:\\TidewellBench";
    std::string list;
    std::uint64_t total = 0, largest = 0;
    for (std::size_t k = 0; k < files.size(); ++k) {
        const CorpusFile& f = files[k];
        const std::string relative = Slashed(f.rest) + "/" + f.name;
        if (!WriteWhole(dir + "/old" + relative, CorpusContent(f, k, 1)))
            return Fail("cannot write " + dir + "/old" + relative);
        std::vector<unsigned char> data = CorpusContent(f, k, 0);
        if (!WriteWhole(dir + "/new" + relative, data))
            return Fail("cannot write " + dir + "/new" + relative);
        list += f.rest + "\t" + f.name + "\t" + CORPUS_KIND_NAMES[f.kind] + "\t" +
                std::to_string(f.size) + "\n";
        total += f.size;
        if (f.size > largest) largest = f.size;
        if (!packagePath.empty()) {
            WriterEntry entry;
            entry.fileName = f.name;
            entry.folder = "<InstallDir>" + f.rest;
            entry.flags = ENTRY_ALWAYS_REPLACE;
            entry.data = std::move(data);
            package.entries.push_back(std::move(entry));
        }
    }
    if (!WriteText(dir + "/files.tsv", list) ||
        !WriteText(dir + "/nsis-zlib.nsi", NsisScript(dir, files, nsisTarget, "zlib")) ||
        !WriteText(dir + "/nsis-lzma.nsi", NsisScript(dir, files, nsisTarget, "lzma")) ||
        !WriteText(dir + "/manifest.toml", CorpusManifest(files, installKey)))
        return Fail("cannot write the scripts in " + dir);
    if (!packagePath.empty()) {
        std::vector<unsigned char> bytes;
        std::string error;
        if (!BuildPackage(package, &bytes, &error)) return Fail(error);
        if (!WriteWhole(packagePath, bytes)) return Fail("cannot write " + packagePath);
    }
    std::printf("%s: %zu files, %llu bytes, largest %llu\n", dir.c_str(), files.size(),
                static_cast<unsigned long long>(total), static_cast<unsigned long long>(largest));
    return 0;
}
