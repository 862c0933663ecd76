// SPDX-License-Identifier: MIT
// Builds a patch package from a small manifest, with the project's package writer. The build
// runs it (compiled for the build machine) to make the demo package that Tidewell.exe carries,
// and the end-to-end tests' packages.
//
//   make_package MANIFEST OUTPUT [SEARCH_DIR...]
//   make_package --generate SIZE SEED        writes generated data (see below) to stdout
//
// The manifest: one "key = value" per line, '#' starts a comment line. Values are bytes, taken
// as they are (the build converts the manifest to the target machines' code page first).
//
//   title, version, registry-key, value-name, default-folder, sub-folder, level
//   running-app = window class        starts a running-application record
//   message = text                    its message
//   file = name                       starts an entry; its data is the file of that name in
//                                     the first search folder that has it
//   source = name                     ... or this name instead
//   generate = SIZE SEED              ... or SIZE bytes generated from SEED
//   folder = <InstallDir>...          the entry's folder text
//   flags = always run-after 0x..     the entry's flags, by name or number
//   shortcut = name;arguments         one line of the entry's shortcut text (joined by CR LF)
//   move = from | to                  a shortcut-move record
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "package/package.h"
#include "package/package_writer.h"

namespace {

// Deterministic data, different for each seed: numbered lines, some with a pseudo-random
// value, so that it compresses well but not to nothing.
std::vector<unsigned char> GenerateData(std::uint64_t size, const std::string& seed) {
    std::uint64_t state = 1469598103934665603ull;
    for (unsigned char c : seed) state = (state ^ c) * 1099511628211ull;
    std::vector<unsigned char> data;
    data.reserve(size);
    char line[64];
    std::uint64_t number = 0;
    while (data.size() < size) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        // One line in sixteen carries a random value: large packages stay small.
        unsigned long long value = number % 16 == 0 ? state : 0;
        int length = std::snprintf(line, sizeof line, "%s %010llu %016llx\n", seed.c_str(),
                                   static_cast<unsigned long long>(number++), value);
        for (int i = 0; i < length && data.size() < size; ++i)
            data.push_back(static_cast<unsigned char>(line[i]));
    }
    return data;
}

std::string Trim(const std::string& text) {
    std::size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos) return "";
    std::size_t end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

int ReadFile(const std::string& path, std::vector<unsigned char>* data) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return 0;
    data->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return 1;
}

int ParseFlags(const std::string& text, std::uint32_t* flags) {
    std::istringstream words(text);
    std::string word;
    *flags = 0;
    while (words >> word) {
        if (word == "always") {
            *flags |= ENTRY_ALWAYS_REPLACE;
        } else if (word == "run-after") {
            *flags |= ENTRY_RUN_AFTER;
        } else {
            char* end;
            errno = 0;
            unsigned long value = std::strtoul(word.c_str(), &end, 0);
            if (*end != '\0' || errno != 0) return 0;
            *flags |= static_cast<std::uint32_t>(value);
        }
    }
    return 1;
}

struct PendingData {
    std::string source;      // file name to look for
    std::uint64_t size = 0;  // generated data ...
    std::string seed;        // ... when the seed is not empty
};

int Fail(const std::string& manifest, int line, const std::string& what) {
    std::cerr << manifest << ":" << line << ": " << what << "\n";
    return 1;
}

int Build(const std::string& manifest, const std::string& output,
          const std::vector<std::string>& searchDirs) {
    std::ifstream in(manifest, std::ios::binary);
    if (!in) return Fail(manifest, 0, "cannot read the manifest");
    WriterPackage package;
    std::vector<PendingData> pending;
    std::string text;
    int lineNumber = 0;
    while (std::getline(in, text)) {
        ++lineNumber;
        std::string line = Trim(text);
        if (line.empty() || line[0] == '#') continue;
        std::size_t equals = line.find('=');
        if (equals == std::string::npos) return Fail(manifest, lineNumber, "no '='");
        std::string key = Trim(line.substr(0, equals));
        std::string value = Trim(line.substr(equals + 1));
        bool haveEntry = !package.entries.empty();
        if (key == "title") {
            package.title = value;
        } else if (key == "version") {
            package.versionText = value;
        } else if (key == "registry-key") {
            package.registryKey = value;
        } else if (key == "value-name") {
            package.valueName = value;
        } else if (key == "default-folder") {
            package.defaultFolder = value;
        } else if (key == "sub-folder") {
            package.subFolder = value;
        } else if (key == "level") {
            package.level = std::atoi(value.c_str());
        } else if (key == "running-app") {
            package.runningApps.push_back({value, ""});
        } else if (key == "message") {
            if (package.runningApps.empty()) return Fail(manifest, lineNumber, "no running-app");
            package.runningApps.back().message = value;
        } else if (key == "file") {
            package.entries.emplace_back();
            package.entries.back().fileName = value;
            pending.push_back({value, 0, ""});
        } else if (key == "move") {
            std::size_t bar = value.find('|');
            if (bar == std::string::npos) return Fail(manifest, lineNumber, "move needs '|'");
            package.moves.push_back({Trim(value.substr(0, bar)), Trim(value.substr(bar + 1))});
        } else if (!haveEntry) {
            return Fail(manifest, lineNumber, "'" + key + "' before any file");
        } else if (key == "source") {
            pending.back().source = value;
        } else if (key == "generate") {
            std::istringstream words(value);
            if (!(words >> pending.back().size >> pending.back().seed))
                return Fail(manifest, lineNumber, "generate = SIZE SEED");
        } else if (key == "folder") {
            package.entries.back().folder = value;
        } else if (key == "flags") {
            if (!ParseFlags(value, &package.entries.back().flags))
                return Fail(manifest, lineNumber, "unknown flag in '" + value + "'");
        } else if (key == "shortcut") {
            std::string& shortcuts = package.entries.back().shortcutText;
            if (!shortcuts.empty()) shortcuts += "\r\n";
            shortcuts += value;
        } else {
            return Fail(manifest, lineNumber, "unknown key '" + key + "'");
        }
    }

    for (std::size_t i = 0; i < pending.size(); ++i) {
        WriterEntry& entry = package.entries[i];
        if (!pending[i].seed.empty()) {
            entry.data = GenerateData(pending[i].size, pending[i].seed);
            continue;
        }
        bool found = false;
        for (const std::string& dir : searchDirs) {
            if (ReadFile(dir + "/" + pending[i].source, &entry.data)) {
                found = true;
                break;
            }
        }
        if (!found) return Fail(manifest, 0, "no file '" + pending[i].source + "' to pack");
    }

    std::vector<unsigned char> bytes;
    std::string error;
    if (!BuildPackage(package, &bytes, &error)) return Fail(manifest, 0, error);
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) return Fail(output, 0, "cannot write the package");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--generate") == 0) {
        std::vector<unsigned char> data =
            GenerateData(std::strtoull(argv[2], nullptr, 10), argv[3]);
        std::fwrite(data.data(), 1, data.size(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (argc < 3) {
        std::cerr << "usage: make_package MANIFEST OUTPUT [SEARCH_DIR...]\n"
                     "       make_package --generate SIZE SEED\n";
        return 2;
    }
    return Build(argv[1], argv[2], std::vector<std::string>(argv + 3, argv + argc));
}
