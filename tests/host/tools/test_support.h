// Scratch folders, files and captured command output for the tidepack tests.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

struct TempDir {
    std::string path;
    TempDir() {
        char pattern[] = "/tmp/tidepack-test-XXXXXX";
        path = mkdtemp(pattern) ? pattern : "";
    }
    ~TempDir() {
        std::error_code code;
        std::filesystem::remove_all(path, code);
    }
    std::string operator/(const std::string& name) const { return path + "/" + name; }
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

struct Output {
    int code;
    std::string out;
    std::string err;
};

// Runs one command function with its output and messages captured.
inline Output Capture(const std::function<int(std::FILE*, std::FILE*)>& command) {
    char* outText = nullptr;
    char* errText = nullptr;
    std::size_t outSize = 0, errSize = 0;
    std::FILE* out = open_memstream(&outText, &outSize);
    std::FILE* err = open_memstream(&errText, &errSize);
    Output result;
    result.code = command(out, err);
    std::fclose(out);
    std::fclose(err);
    result.out.assign(outText, outSize);
    result.err.assign(errText, errSize);
    std::free(outText);
    std::free(errText);
    return result;
}

// An .ico file of one 32-bit bitmap of `side` pixels in one shade.
inline std::string Icon(unsigned side, unsigned char shade = 0x80) {
    auto le = [](std::uint32_t value, int width) {
        std::string bytes;
        for (int k = 0; k < width; ++k) bytes += static_cast<char>(value >> (8 * k));
        return bytes;
    };
    std::string image = le(40, 4) + le(side, 4) + le(2 * side, 4) + le(1, 2) + le(32, 2) +
                        std::string(24, '\0') +
                        std::string(side * side * 4, static_cast<char>(shade)) +
                        std::string((side + 31) / 32 * 4 * side, '\0');
    return le(0, 2) + le(1, 2) + le(1, 2) + static_cast<char>(side & 0xFF) +
           static_cast<char>(side & 0xFF) + le(0, 2) + le(1, 2) + le(32, 2) +
           le(static_cast<std::uint32_t>(image.size()), 4) + le(22, 4) + image;
}
