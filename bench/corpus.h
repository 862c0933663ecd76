// SPDX-License-Identifier: MIT
// The benchmark's inputs, made from a fixed seed so that every run on every machine measures
// the same bytes: a product-like update, a scale series of small files and one large file,
// each with an older installed version, the NSIS scripts that install the same files and the
// authoring tool's manifest.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum CorpusKind { TEXT, BINARY, NOISE, SPARSE };
extern const char* const CORPUS_KIND_NAMES[4];

struct CorpusFile {
    std::string rest;  // after "<InstallDir>", e.g. "\\data" or ""
    std::string name;
    CorpusKind kind;
    std::uint64_t size;
};

// The shape of a product update of `totalMib` MiB (64 for the real one): 55 files, five large
// ones (4 to 16 MiB at 64), ten middle and forty small ones in four folders; exactly
// totalMib MiB in all.
std::vector<CorpusFile> ProductFiles(std::uint64_t totalMib);

// `count` files of 4 to 64 KiB, in the same four folders.
std::vector<CorpusFile> ScaleFiles(std::uint32_t count);

// The bytes of `file`: the same for the same file and version on every machine. Version 0 is
// the new file, 1 the installed older one (1/16 shorter, other bytes).
std::vector<unsigned char> CorpusContent(const CorpusFile& file, std::size_t index, int version);

// An NSIS script that installs DIR/new silently into the folder given by /D=, with
// `compressor` ("zlib" or "lzma"), for `target` ("amd64-unicode" or "x86-unicode").
std::string NsisScript(const std::string& dir, const std::vector<CorpusFile>& files,
                       const std::string& target, const char* compressor);

// tidepack's manifest for the files under "new/", every entry always replacing.
std::string CorpusManifest(const std::vector<CorpusFile>& files, const std::string& installKey);

// "\\data" as "/data".
std::string Slashed(const std::string& rest);
