// SPDX-License-Identifier: MIT
// The floor for this package format: map the package file, inflate every stream into a
// buffer of its size and write it once to its target, nothing more (no temporary file, no
// version check, no progress). What the update program adds on top of this is its own cost.
//
//   bench_floor PACKAGE INSTALLDIR
//
// Only "<InstallDir>" folders are handled, as the benchmark's packages use no others. Exit
// code 0 when every entry was written, 1 otherwise (with the failed targets on stderr).
#include <windows.h>
#include <zlib.h>

#include <cstdio>

#include "base/text.h"
#include "package/package.h"

namespace {

// One entry: 1 when its data reached the target whole.
int WriteEntry(const PackageImage& image, const PackageEntry& entry, const char* installDir) {
    const unsigned char* stream;
    const char* name = PackageText(image, entry.fileName);
    const char* folder = PackageText(image, entry.folder);
    char path[PATH_TEXT_SIZE];
    if (!GetEntryStream(image, entry, &stream) || !name || !folder ||
        !BeginsWithName(folder, "<InstallDir>") ||
        !TextFormat(path, sizeof path, "%s%s\\%s", installDir, folder + 12, name))
        return 0;
    // The target is made first, as an installer does: its appearance starts the clock.
    HANDLE file =
        CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "bench_floor: cannot create %s\n", path);
        return 0;
    }
    unsigned char* data = static_cast<unsigned char*>(LocalAlloc(LMEM_FIXED, entry.size + 1));
    uLongf length = entry.size;
    DWORD written = 0;
    int ok = data && uncompress(data, &length, stream, entry.compressedSize) == Z_OK &&
             length == entry.size && WriteFile(file, data, entry.size, &written, nullptr) &&
             written == entry.size;
    ok = CloseHandle(file) && ok;
    if (data) LocalFree(data);
    if (!ok) std::fprintf(stderr, "bench_floor: %s not written\n", path);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_floor PACKAGE INSTALLDIR\n");
        return 2;
    }
    HANDLE file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "bench_floor: cannot open %s\n", argv[1]);
        return 2;
    }
    DWORD high = 0;
    DWORD size = GetFileSize(file, &high);
    HANDLE mapping =
        size || high ? CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr) : nullptr;
    const void* view = mapping ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
    int failed = 0;
    const PackageHeader* header;
    PackageImage image{static_cast<const unsigned char*>(view), size};
    if (!view || high || !GetPackageHeader(image, &header)) {
        std::fprintf(stderr, "bench_floor: %s is no package\n", argv[1]);
        failed = 1;
    } else {
        for (std::int32_t i = 0; i < header->entryCount; ++i) {
            const PackageEntry* entry;
            if (!GetPackageEntry(image, i, &entry) || !WriteEntry(image, *entry, argv[2]))
                failed = 1;
        }
    }
    if (view) UnmapViewOfFile(view);
    if (mapping) CloseHandle(mapping);
    CloseHandle(file);
    return failed;
}
