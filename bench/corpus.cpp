// SPDX-License-Identifier: MIT
#include "corpus.h"

#include <cstdio>
#include <cstring>

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
                if (operand < 3)
                    out.push_back(static_cast<unsigned char>(rng.Skewed(256)));
                else if (operand < 8)
                    put32(pool[rng.Skewed(512)]);
                else if (operand < 9)
                    put32(static_cast<std::uint32_t>(rng.Next()));
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

}  // namespace

const char* const CORPUS_KIND_NAMES[4] = {"text", "binary", "noise", "sparse"};

std::vector<unsigned char> CorpusContent(const CorpusFile& newer, std::size_t index, int version) {
    static const Vocabulary v = MakeVocabulary();
    CorpusFile file = newer;
    if (version) file.size -= file.size / 16;
    Rng rng{SEED + 2 * index + (version ? 1 : 0)};
    std::vector<unsigned char> out;
    out.reserve(static_cast<std::size_t>(file.size) + 16384);
    switch (file.kind) {
        case TEXT:
            FillText(rng, v, out, file.size);
            break;
        case BINARY:
            FillBinary(rng, v, out, file.size);
            break;
        case NOISE:
            FillNoise(rng, out, file.size);
            break;
        case SPARSE:
            FillSparse(rng, out, file.size);
            break;
    }
    return out;
}

// The shape of a product update, in bytes of a 64 MiB whole: five large files, ten middle
// ones and forty small ones in four folders. Sizes of the middle files take up whatever the
// others leave, so the whole is exact.
std::vector<CorpusFile> ProductFiles(std::uint64_t totalMib) {
    const std::uint64_t total = totalMib << 20;
    const auto scaled = [&](std::uint64_t bytesAt64) {
        std::uint64_t s = bytesAt64 * totalMib / 64;
        return s < 512 ? 512 : s;
    };
    std::vector<CorpusFile> files = {
        {"", "Product.exe", BINARY, scaled(6 << 20)},
        {"", "core.dll", BINARY, scaled(16 << 20)},
        {"\\data", "media.pak", NOISE, scaled(12 << 20)},
        {"\\help", "manual.xml", TEXT, scaled(8 << 20)},
        {"\\data", "sounds.pak", NOISE, scaled(4 << 20)},
    };
    Rng rng{SEED ^ 0x73697A65ull};
    static const char* const FOLDERS[] = {"", "\\data", "\\help", "\\lang"};
    static const CorpusKind SMALL_KINDS[] = {TEXT,   TEXT,   TEXT,  BINARY,
                                             BINARY, BINARY, NOISE, SPARSE};
    static const char* const EXT[] = {".txt", ".dll", ".bin", ".db"};
    std::uint64_t used = 0;
    for (const CorpusFile& f : files) used += f.size;
    for (int i = 0; i < 40; ++i) {
        // Log-uniform from 1 KiB to 512 KiB.
        std::uint32_t bits = 10 + rng.Below(9);
        std::uint64_t size = (1ull << bits) + rng.Below(1u << bits);
        CorpusKind kind = SMALL_KINDS[rng.Below(8)];
        char name[64];
        std::snprintf(name, sizeof name, "part%02d%s", i, EXT[kind]);
        files.push_back({FOLDERS[rng.Below(4)], name, kind, scaled(size)});
        used += files.back().size;
    }
    static const CorpusKind MIDDLE_KINDS[] = {BINARY, TEXT,   BINARY, NOISE,  TEXT,
                                              BINARY, SPARSE, TEXT,   BINARY, NOISE};
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
    for (const CorpusFile& f : files) sum += f.size;
    files[14].size = total > sum ? total - sum : 512;  // the last middle file takes the rest
    return files;
}

std::vector<CorpusFile> ScaleFiles(std::uint32_t count) {
    Rng rng{SEED ^ 0x7363616Cull};
    static const CorpusKind KINDS[] = {TEXT, TEXT, TEXT, TEXT, BINARY, BINARY, BINARY, NOISE};
    static const char* const FOLDERS[] = {"", "\\data", "\\help", "\\lang"};
    std::vector<CorpusFile> files;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t bits = 12 + rng.Below(4);  // 4 KiB to 64 KiB, log-uniform
        char name[64];
        std::snprintf(name, sizeof name, "f%05u.dat", i);
        files.push_back(
            {FOLDERS[i % 4], name, KINDS[rng.Below(8)], (1ull << bits) + rng.Below(1u << bits)});
    }
    return files;
}

std::string Slashed(const std::string& rest) {
    std::string s = rest;
    for (char& c : s)
        if (c == '\\') c = '/';
    return s;
}

std::string NsisScript(const std::string& dir, const std::vector<CorpusFile>& files,
                       const std::string& target, const char* compressor) {
    std::string s;
    s += "; Installs " + dir + "/new silently into the folder given by /D=.\n";
    s += "Unicode true\nTarget " + target + "\n";
    s += std::string("SetCompressor /FINAL ") + compressor + "\n";
    s += "SilentInstall silent\nRequestExecutionLevel user\nName \"Tidewell Bench\"\n";
    s += "OutFile \"" + dir + "/nsis-" + compressor + ".exe\"\n";
    s += "InstallDir \"$TEMP\\TidewellBench\"\nSection\n";
    std::string current = "?";
    for (const CorpusFile& f : files) {
        if (f.rest != current) {
            s += "SetOutPath \"$INSTDIR" + f.rest + "\"\n";
            current = f.rest;
        }
        s += "File \"" + dir + "/new" + Slashed(f.rest) + "/" + f.name + "\"\n";
    }
    s += "SectionEnd\n";
    return s;
}

namespace {

std::string TomlString(const std::string& text) {
    std::string s = "'";
    s += text;  // literal string: backslashes stay as they are
    return s + "'";
}

}  // namespace

std::string CorpusManifest(const std::vector<CorpusFile>& files, const std::string& installKey) {
    std::string s;
    s += "# The benchmark's update, made by bench_corpus.\n";
    s += "codePage = 1252\ntitle = 'Tidewell Bench'\nversionText = '2.0.0'\n";
    s += "registryKey = " + TomlString(installKey) + "\nvalueName = 'InstallDir'\n";
    s += "defaultFolder = 'C:\\TidewellBench'\n\n";
    for (const CorpusFile& f : files) {
        s += "[[file]]\n";
        s += "source = " + TomlString("new" + Slashed(f.rest) + "/" + f.name) + "\n";
        s += "folder = " + TomlString("<InstallDir>" + f.rest) + "\n";
        s += "alwaysReplace = true\n\n";
    }
    return s;
}
