// SPDX-License-Identifier: MIT
// Builds a patch package from data: the authoring tool's back end and the tests' source of
// packages. Texts are taken as bytes (already in the target machines' code page).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct WriterRunningApp {
    std::string windowClass;
    std::string message;
};

struct WriterEntry {
    std::string fileName;
    std::string folder;
    std::string shortcutText;
    std::uint32_t flags = 0;
    std::vector<unsigned char> data;
    // A ready zlib stream to store instead of compressing `data` (e.g. made by zopfli);
    // `data` still gives the entry's size.
    std::vector<unsigned char> stream;
};

struct WriterMove {
    std::string from;
    std::string to;
};

struct WriterPackage {
    std::uint32_t reserved = 0x1060;
    std::string title;
    std::string versionText;
    std::string registryKey;
    std::string valueName;
    std::string defaultFolder;
    std::string subFolder;
    std::vector<WriterRunningApp> runningApps;  // at most five
    std::vector<WriterEntry> entries;
    std::vector<WriterMove> moves;
    // Order in which the streams are laid out, as entry indexes; empty: entry order. The last
    // entry's stream always goes last, since the move table is found behind it.
    std::vector<std::size_t> streamOrder;
    int level = 9;  // zlib level for entries without a ready stream
};

// The zlib stream of `data` at `level`. Returns 1 on success.
int CompressStream(const std::vector<unsigned char>& data, int level,
                   std::vector<unsigned char>* stream);

// Lays out the whole package into `out`. Returns 1 on success; 0 with a message in `error`
// when a text does not fit its field (terminator included), there are more than five running
// applications, the stream order is not a permutation ending in the last entry, or the
// package would not fit 32-bit offsets.
int BuildPackage(const WriterPackage& package, std::vector<unsigned char>* out, std::string* error);
