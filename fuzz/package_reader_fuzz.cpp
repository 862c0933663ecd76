// SPDX-License-Identifier: MIT
// Walks every part of an arbitrary byte image as the apply run would: no read may leave it.
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "package/package.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 0xFFFFFFFFu) return 0;
    // A copy of exactly `size` bytes, so that ASan sees every read past the end.
    std::vector<unsigned char> bytes(data, data + size);
    PackageImage image{bytes.data(), static_cast<std::uint32_t>(size)};
    const PackageHeader* header;
    if (!GetPackageHeader(image, &header)) return 0;
    PackageText(image, header->title);
    PackageText(image, header->versionText);
    PackageText(image, header->registryKey);
    for (const RunningAppRecord& app : header->runningApps) {
        PackageText(image, app.windowClass);
        PackageText(image, app.message);
    }
    std::int32_t count = header->entryCount;
    for (std::int32_t i = 0; i < count; ++i) {
        const PackageEntry* entry;
        if (!GetPackageEntry(image, i, &entry)) break;
        PackageText(image, entry->fileName);
        PackageText(image, entry->folder);
        PackageText(image, entry->shortcutText);
        const unsigned char* stream;
        // Inflate only small claims: the size field is the fuzzer's to choose.
        if (GetEntryStream(image, *entry, &stream) && entry->size <= (1u << 20)) {
            std::vector<unsigned char> out(entry->size + 1);
            uLongf length = entry->size;
            uncompress(out.data(), &length, stream, entry->compressedSize);
        }
        std::uint32_t table;
        std::int32_t moves;
        if (i == count - 1 && GetMoveTableOffset(image, *entry, &table) &&
            GetMoveCount(image, table, &moves)) {
            for (std::int32_t r = 0; r < moves; ++r) {
                const ShortcutMoveRecord* record;
                if (!GetMoveRecord(image, table, r, &record)) break;
                PackageText(image, record->from);
                PackageText(image, record->to);
            }
        }
    }
    return 0;
}
