// SPDX-License-Identifier: MIT
// The patch package: the read-only byte image of resource RCDATA 1.
//
//   offset 0                      PackageHeader (2488 bytes)
//                                 ...five RunningAppRecord of 320 bytes at 888
//   2488 + 4368 * i               PackageEntry i, i = 0 .. entryCount - 1
//   streamOffset of each entry    its zlib stream, compressedSize bytes, inflating to size
//   M = streamOffset +            shortcut-move table: i32 moveCount, then moveCount
//       compressedSize of the     ShortcutMoveRecord of 520 bytes
//       last entry
//
// Integers are 32-bit little-endian; texts are NUL-terminated ANSI inside fixed-width fields,
// read up to their NUL (the field width is not a limit). The format carries no length of its
// own, so every reader here is given the image's length and never reads outside it: a record,
// stream, table or text that would reach past the end gives 0 instead of data.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::uint32_t PACKAGE_RESOURCE_ID = 1;
constexpr std::uint32_t PACKAGE_RESOURCE_TYPE = 10;  // RT_RCDATA
constexpr std::uint32_t PACKAGE_RESOURCE_LANGUAGE = 1033;

constexpr std::uint32_t ENTRY_ALWAYS_REPLACE = 0x01;
constexpr std::uint32_t ENTRY_RUN_AFTER = 0x10;

constexpr int RUNNING_APP_COUNT = 5;
constexpr int RUN_AFTER_CAPACITY = 16;

// Records are read in place, so their integers must already be in the machine's order.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the package format is little-endian");

#pragma pack(push, 1)

struct RunningAppRecord {
    char windowClass[64];  // empty: record not in use, matches no window
    char message[256];     // shown verbatim when such a window exists
};

struct PackageHeader {
    std::uint32_t reserved;
    char title[64];
    char versionText[16];
    char registryKey[256];  // "HKEY_LOCAL_MACHINE\Software\..."
    char valueName[32];
    char defaultFolder[256];
    char subFolder[256];
    std::int32_t entryCount;  // 0 or less: no entries
    RunningAppRecord runningApps[RUNNING_APP_COUNT];
};

struct PackageEntry {
    std::uint32_t streamOffset;
    std::uint32_t compressedSize;
    std::uint32_t size;
    char fileName[128];
    char folder[128];  // "<InstallDir>", "<WindowsDir>" or "<SystemDir>", then an optional rest
    char shortcutText[4096];
    std::uint32_t flags;  // ENTRY_ALWAYS_REPLACE, ENTRY_RUN_AFTER; other bits ignored
};

struct ShortcutMoveRecord {
    char from[260];
    char to[260];  // a shortcut name that does not resolve: delete the shortcut
};

#pragma pack(pop)

constexpr std::uint32_t HEADER_SIZE = 2488;
constexpr std::uint32_t RUNNING_APP_SIZE = 320;
constexpr std::uint32_t ENTRY_SIZE = 4368;
constexpr std::uint32_t MOVE_RECORD_SIZE = 520;
constexpr std::uint32_t MOVE_COUNT_SIZE = 4;

static_assert(sizeof(RunningAppRecord) == RUNNING_APP_SIZE);
static_assert(sizeof(PackageHeader) == HEADER_SIZE);
static_assert(sizeof(PackageEntry) == ENTRY_SIZE);
static_assert(sizeof(ShortcutMoveRecord) == MOVE_RECORD_SIZE);
static_assert(offsetof(PackageHeader, title) == 4);
static_assert(offsetof(PackageHeader, versionText) == 68);
static_assert(offsetof(PackageHeader, registryKey) == 84);
static_assert(offsetof(PackageHeader, valueName) == 340);
static_assert(offsetof(PackageHeader, defaultFolder) == 372);
static_assert(offsetof(PackageHeader, subFolder) == 628);
static_assert(offsetof(PackageHeader, entryCount) == 884);
static_assert(offsetof(PackageHeader, runningApps) == 888);
static_assert(offsetof(RunningAppRecord, message) == 64);
static_assert(offsetof(PackageEntry, compressedSize) == 4);
static_assert(offsetof(PackageEntry, size) == 8);
static_assert(offsetof(PackageEntry, fileName) == 12);
static_assert(offsetof(PackageEntry, folder) == 140);
static_assert(offsetof(PackageEntry, shortcutText) == 268);
static_assert(offsetof(PackageEntry, flags) == 4364);
static_assert(offsetof(ShortcutMoveRecord, to) == 260);

// The package's bytes and their number. The bytes are never written.
struct PackageImage {
    const unsigned char* data;
    std::uint32_t size;
};

// The header in place, or 0 when the image is shorter than a header.
int GetPackageHeader(const PackageImage& image, const PackageHeader** header);

// Entry `index` in place. 0 when index < 0, index >= the header's entryCount, or the record
// reaches past the end of the image.
int GetPackageEntry(const PackageImage& image, std::int32_t index, const PackageEntry** entry);

// The entry's stream in place: 0 when streamOffset + compressedSize reaches past the image.
int GetEntryStream(const PackageImage& image, const PackageEntry& entry,
                   const unsigned char** stream);

// Offset M of the shortcut-move table behind `lastEntry`'s stream. 0 when moveCount at M
// would reach past the image.
int GetMoveTableOffset(const PackageImage& image, const PackageEntry& lastEntry,
                       std::uint32_t* offset);

// moveCount at `tableOffset` (signed; callers treat 0 or less as none).
int GetMoveCount(const PackageImage& image, std::uint32_t tableOffset, std::int32_t* moveCount);

// Move record `index` of the table at `tableOffset`; 0 when it reaches past the image.
int GetMoveRecord(const PackageImage& image, std::uint32_t tableOffset, std::int32_t index,
                  const ShortcutMoveRecord** record);

// A text field of the image, by the address of its first byte. Returns the same address when
// the text has a NUL before the image ends, else null (a text that would run off the image).
const char* PackageText(const PackageImage& image, const char* field);
