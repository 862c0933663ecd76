// Makes the benchmark's inputs from a fixed seed, so that every run on every machine measures
// the same bytes:
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
#include <cstring>
#include <string>
#include <vector>

#include "package/package.h"
#include "package/package_writer.h"

namespace {

constexpr std::uint64_t SEED = 0x7D1E3E11A5C0FFEEull;

// splitmix64: the same stream on every platform, and fast enough for hundreds of megabytes.
struct Rng {
    std::uint64_t state;
    std::uint64_t Next() {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::uint32_t Below(std::uint32_t n) { return static_cast<std::uint32_t>(Next() % n); }
    // Small values far more often than large ones, as words and symbols are in real files.
    std::uint32_t Skewed(std::uint32_t n) {
        std::uint64_t a = Next() & 0xFFFF, b = Next() & 0xFFFF;
        return static_cast<std::uint32_t>((a * b * n) >> 32);
    }
    std::uint32_t VerySkewed(std::uint32_t n) {
        std::uint64_t r = Next();
        std::uint64_t a = r & 0xFFFF, b = (r >> 16) & 0xFFFF, c = (r >> 32) & 0xFFFF;
        return static_cast<std::uint32_t>((((a * b) >> 16) * c * n) >> 32);
    }
};

enum Kind { TEXT, BINARY, NOISE, SPARSE };
const char* const KIND_NAMES[] = {"text", "binary", "noise", "sparse"};

struct File {
    std::string rest;  // after "<InstallDir>", e.g. "\\data" or ""
    std::string name;
    Kind kind;
    std::uint64_t size;
};

struct Vocabulary {
    std::vector<std::string> words;
};

Vocabulary MakeVocabulary() {
    Rng rng{SEED ^ 0x766F63ull};
    Vocabulary v;
    for (int i = 0; i < 4096; ++i) {
        std::string w;
        std::uint32_t length = 2 + rng.Skewed(11);
        for (std::uint32_t k = 0; k < length; ++k) w += static_cast<char>('a' + rng.Skewed(26));
        v.words.push_back(w);
    }
    return v;
}

// Source-like text: indented lines of frequent words, numbers and punctuation (zlib -9 makes
// about a third of it).
void FillText(Rng& rng, const Vocabulary& v, std::vector<unsigned char>& out, std::size_t n) {
    static const char PUNCT[] = "(){};,.=:<>/\"";
    std::string line;
    std::vector<std::string> recent(256);
    while (out.size() < n) {
        // Lines come back often, as they do in code and markup.
        const std::string& again = recent[rng.Skewed(256)];
        if (!again.empty() && rng.Below(100) < 45) {
            out.insert(out.end(), again.begin(), again.end());
            continue;
        }
        line.assign(4 * rng.Below(4), ' ');
        std::uint32_t tokens = 3 + rng.Below(10);
        for (std::uint32_t t = 0; t < tokens; ++t) {
            std::uint32_t r = rng.Below(40);
            if (r < 2) {
                line += std::to_string(rng.Skewed(100000));
            } else {
                line += v.words[rng.VerySkewed(static_cast<std::uint32_t>(v.words.size()))];
            }
            line += r < 30 ? ' ' : PUNCT[rng.Skewed(sizeof PUNCT - 1)];
        }
        line += "\r\n";
        out.insert(out.end(), line.begin(), line.end());
        recent[rng.Below(256)] = line;
    }
    out.resize(n);
}

// Program-like bytes: opcodes with operands from a small pool, tables of slowly growing
// integers, zero padding and UTF-16 strings (zlib -9 makes about half of it).
void FillBinary(Rng& rng, const Vocabulary& v, std::vector<unsigned char>& out, std::size_t n) {
    static std::vector<std::vector<unsigned char>> ops;
    static std::vector<std::uint32_t> pool;
    if (ops.empty()) {
        Rng fixed{SEED ^ 0x6F7073ull};
        for (int i = 0; i < 64; ++i) {
            std::vector<unsigned char> op(1 + fixed.Below(3));
            for (auto& b : op) b = static_cast<unsigned char>(fixed.Next());
            ops.push_back(op);
        }
        for (int i = 0; i < 512; ++i) pool.push_back(static_cast<std::uint32_t>(fixed.Next()));
    }
    auto put32 = [&out](std::uint32_t x) {
        for (int k = 0; k < 4; ++k) out.push_back(static_cast<unsigned char>(x >> (8 * k)));
    };
    while (out.size() < n) {
        std::size_t chunk = out.size() + 256 + rng.Below(8192);
        std::uint32_t what = rng.Below(100);
        if (what < 62) {
            while (out.size() < chunk) {
                const auto& op = ops[rng.Skewed(64)];
                out.insert(out.end(), op.begin(), op.end());
                std::uint32_t operand = rng.Below(10);
                if (operand < 3) out.push_back(static_cast<unsigned char>(rng.Skewed(256)));
                else if (operand < 8) put32(pool[rng.Skewed(512)]);
                else if (operand < 9) put32(static_cast<std::uint32_t>(rng.Next()));
            }
        } else if (what < 77) {
            std::uint32_t value = static_cast<std::uint32_t>(rng.Next());
            std::uint32_t stride = 1 + rng.Below(64);
            while (out.size() < chunk) put32(value += stride + rng.Below(4));
        } else if (what < 87) {
            out.resize(out.size() + 16 + rng.Below(4096), 0);
        } else {
            while (out.size() < chunk) {
                for (char c : v.words[rng.Skewed(static_cast<std::uint32_t>(v.words.size()))]) {
                    out.push_back(static_cast<unsigned char>(c));
                    out.push_back(0);
                }
                out.push_back(0);
                out.push_back(0);
            }
        }
    }
    out.resize(n);
}

void FillNoise(Rng& rng, std::vector<unsigned char>& out, std::size_t n) {
    out.resize(n);
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t x = rng.Next();
        std::memcpy(&out[i], &x, 8);
    }
    for (; i < n; ++i) out[i] = static_cast<unsigned char>(rng.Next());
}

// Database-like pages: mostly zero, with a few records in each page.
void FillSparse(Rng& rng, std::vector<unsigned char>& out, std::size_t n) {
    out.assign(n, 0);
    for (std::size_t page = 0; page < n; page += 4096) {
        std::size_t records = rng.Below(6);
        for (std::size_t r = 0; r < records; ++r) {
            std::size_t at = page + rng.Below(4096 - 64);
            for (std::size_t k = 0; k < 48 && at + k < n; ++k)
                out[at + k] = static_cast<unsigned char>(rng.Skewed(256));
        }
    }
}

std::vector<unsigned char> Content(const File& file, const Vocabulary& v, std::uint64_t seed) {
    Rng rng{seed};
    std::vector<unsigned char> out;
    out.reserve(static_cast<std::size_t>(file.size) + 16384);
    switch (file.kind) {
        case TEXT: FillText(rng, v, out, file.size); break;
        case BINARY: FillBinary(rng, v, out, file.size); break;
        case NOISE: FillNoise(rng, out, file.size); break;
        case SPARSE: FillSparse(rng, out, file.size); break;
    }
    return out;
}

// The shape of a product update, in bytes of a 64 MiB whole: five large files, ten middle
// ones and forty small ones in four folders. Sizes of the middle files take up whatever the
// others leave, so the whole is exact.
std::vector<File> ProductFiles(std::uint64_t totalMib) {
    const std::uint64_t total = totalMib << 20;
    const auto scaled = [&](std::uint64_t bytesAt64) {
        std::uint64_t s = bytesAt64 * totalMib / 64;
        return s < 512 ? 512 : s;
    };
    std::vector<File> files = {
        {"", "Product.exe", BINARY, scaled(6 << 20)},
        {"", "core.dll", BINARY, scaled(16 << 20)},
        {"\\data", "media.pak", NOISE, scaled(12 << 20)},
        {"\\help", "manual.xml", TEXT, scaled(8 << 20)},
        {"\\data", "sounds.pak", NOISE, scaled(4 << 20)},
    };
    Rng rng{SEED ^ 0x73697A65ull};
    static const char* const FOLDERS[] = {"", "\\data", "\\help", "\\lang"};
    static const Kind SMALL_KINDS[] = {TEXT, TEXT, TEXT, BINARY, BINARY, BINARY, NOISE, SPARSE};
    static const char* const EXT[] = {".txt", ".dll", ".bin", ".db"};
    std::uint64_t used = 0;
    for (const File& f : files) used += f.size;
    for (int i = 0; i < 40; ++i) {
        // Log-uniform from 1 KiB to 512 KiB.
        std::uint32_t bits = 10 + rng.Below(9);
        std::uint64_t size = (1ull << bits) + rng.Below(1u << bits);
        Kind kind = SMALL_KINDS[rng.Below(8)];
        char name[64];
        std::snprintf(name, sizeof name, "part%02d%s", i, EXT[kind]);
        files.push_back({FOLDERS[rng.Below(4)], name, kind, scaled(size)});
        used += files.back().size;
    }
    static const Kind MIDDLE_KINDS[] = {BINARY, TEXT, BINARY, NOISE, TEXT,
                                        BINARY, SPARSE, TEXT, BINARY, NOISE};
    std::uint64_t weights[10], weightSum = 0;
    for (auto& w : weights) weightSum += (w = 1 + rng.Below(4));
    std::uint64_t left = total > used ? total - used : 10 * 512;
    for (int i = 0; i < 10; ++i) {
        std::uint64_t size = i < 9 ? left * weights[i] / weightSum : 0;
        char name[64];
        std::snprintf(name, sizeof name, "module%02d%s", i, EXT[MIDDLE_KINDS[i]]);
        files.insert(files.begin() + 5 + i, {FOLDERS[i % 4], name, MIDDLE_KINDS[i], size});
    }
    std::uint64_t sum = 0;
    for (const File& f : files) sum += f.size;
    files[14].size = total > sum ? total - sum : 512;  // the last middle file takes the rest
    return files;
}

std::vector<File> ScaleFiles(std::uint32_t count) {
    Rng rng{SEED ^ 0x7363616Cull};
    static const Kind KINDS[] = {TEXT, TEXT, TEXT, TEXT, BINARY, BINARY, BINARY, NOISE};
    static const char* const FOLDERS[] = {"", "\\data", "\\help", "\\lang"};
    std::vector<File> files;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t bits = 12 + rng.Below(4);  // 4 KiB to 64 KiB, log-uniform
        char name[64];
        std::snprintf(name, sizeof name, "f%05u.dat", i);
        files.push_back({FOLDERS[i % 4], name, KINDS[rng.Below(8)],
                         (1ull << bits) + rng.Below(1u << bits)});
    }
    return files;
}

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

std::string Slashed(const std::string& rest) {
    std::string s = rest;
    for (char& c : s)
        if (c == '\\') c = '/';
    return s;
}

std::string NsisScript(const std::string& dir, const std::vector<File>& files,
                       const std::string& target, const char* compressor) {
    std::string s;
    s += "; Installs " + dir + "/new silently into the folder given by /D=.\n";
    s += "Unicode true\nTarget " + target + "\n";
    s += std::string("SetCompressor /FINAL ") + compressor + "\n";
    s += "SilentInstall silent\nRequestExecutionLevel user\nName \"Tidewell Bench\"\n";
    s += "OutFile \"" + dir + "/nsis-" + compressor + ".exe\"\n";
    s += "InstallDir \"$TEMP\\TidewellBench\"\nSection\n";
    std::string current = "?";
    for (const File& f : files) {
        if (f.rest != current) {
            s += "SetOutPath \"$INSTDIR" + f.rest + "\"\n";
            current = f.rest;
        }
        s += "File \"" + dir + "/new" + Slashed(f.rest) + "/" + f.name + "\"\n";
    }
    s += "SectionEnd\n";
    return s;
}

std::string TomlString(const std::string& text) {
    std::string s = "'";
    s += text;  // literal string: backslashes stay as they are
    return s + "'";
}

std::string Manifest(const std::vector<File>& files, const std::string& installKey) {
    std::string s;
    s += "# The benchmark's update, made by bench_corpus.\n";
    s += "codePage = 1252\ntitle = 'Tidewell Bench'\nversionText = '2.0.0'\n";
    s += "registryKey = " + TomlString(installKey) + "\nvalueName = 'InstallDir'\n";
    s += "defaultFolder = 'C:\\TidewellBench'\n\n";
    for (const File& f : files) {
        s += "[[file]]\n";
        s += "source = " + TomlString("new" + Slashed(f.rest) + "/" + f.name) + "\n";
        s += "folder = " + TomlString("<InstallDir>" + f.rest) + "\n";
        s += "alwaysReplace = true\n\n";
    }
    return s;
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
        if (option == "--mib") mib = std::strtoull(value.c_str(), nullptr, 10);
        else if (option == "--package") packagePath = value;
        else if (option == "--nsis-target") nsisTarget = value;
        else if (option == "--install-key") installKey = value;
        else return Usage();
    }

    std::vector<File> files;
    if (what == "product" && mib > 0 && mib <= 1024) files = ProductFiles(mib);
    else if (what == "scale" && number > 0 && number <= 100000) files = ScaleFiles(number);
    else if (what == "big" && number > 0 && number <= 2000)
        files = {{"", "huge.bin", BINARY, number * 1000000}};
    else return Usage();

    const Vocabulary vocabulary = MakeVocabulary();
    for (const char* top : {"", "/new", "/old"}) {
        if (!MakeFolder(dir + top)) return Fail("cannot make " + dir + top);
    }
    for (const File& f : files) {
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
        const File& f = files[k];
        const std::string relative = Slashed(f.rest) + "/" + f.name;
        File older = f;
        older.size = f.size - f.size / 16;
        if (!WriteWhole(dir + "/old" + relative, Content(older, vocabulary, SEED + 2 * k + 1)))
            return Fail("cannot write " + dir + "/old" + relative);
        std::vector<unsigned char> data = Content(f, vocabulary, SEED + 2 * k);
        if (!WriteWhole(dir + "/new" + relative, data))
            return Fail("cannot write " + dir + "/new" + relative);
        list += f.rest + "\t" + f.name + "\t" + KIND_NAMES[f.kind] + "\t" +
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
        !WriteText(dir + "/manifest.toml", Manifest(files, installKey)))
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
