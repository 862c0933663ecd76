// SPDX-License-Identifier: MIT
// Steps beside the package: folders to create, files to remove and registry values to set. A
// resource of their own (RCDATA 2, language 1033), so the package (RCDATA 1) keeps its format,
// and a program that carries no such resource does exactly what its package says.
//
//   offset 0     ExtrasHeader (24 bytes): magic "TWX1", formatVersion 1, folderCount,
//                removalCount, registryCount, reserved 0
//   24           folderCount FolderRecord of 260 bytes
//   then         removalCount RemovalRecord of 264 bytes
//   then         registryCount RegistryRecord of 1544 bytes
//
// Integers are 32-bit little-endian; texts are ANSI in the package's code page, each ended by a
// NUL inside its field. The reader is given the image's length and never reads outside it: a
// record past the end, or a text without its NUL in its field, gives 0 instead of data.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::uint32_t EXTRAS_RESOURCE_ID = 2;
constexpr std::uint32_t EXTRAS_MAGIC = 0x31585754;  // "TWX1"
constexpr std::uint32_t EXTRAS_FORMAT_VERSION = 1;
// A bound on each count: far above any release, far below what would overflow a size.
constexpr std::int32_t EXTRAS_MAX_COUNT = 65536;

// RemovalRecord flags.
constexpr std::uint32_t REMOVAL_EMPTY_FOLDER = 0x01;  // then the file's folder, when now empty

// RegistryRecord types, Windows' own numbers.
constexpr std::uint32_t EXTRAS_REG_SZ = 1;
constexpr std::uint32_t EXTRAS_REG_DWORD = 4;

#pragma pack(push, 1)

struct ExtrasHeader {
    std::uint32_t magic;
    std::uint32_t formatVersion;
    std::int32_t folderCount;
    std::int32_t removalCount;
    std::int32_t registryCount;
    std::uint32_t reserved;
};

struct FolderRecord {
    char folder[260];  // "<InstallDir>\rest": created when missing, before the entries
};

struct RemovalRecord {
    std::uint32_t flags;  // REMOVAL_EMPTY_FOLDER
    char target[260];     // "<InstallDir>\rest\name": one file, removed after the entries
};

struct RegistryRecord {
    std::uint32_t type;    // EXTRAS_REG_SZ or EXTRAS_REG_DWORD
    std::uint32_t number;  // the data of a EXTRAS_REG_DWORD value
    char key[256];         // "HKEY_LOCAL_MACHINE\..." or "HKEY_CURRENT_USER\...": must exist
    char valueName[256];   // "" for the key's default value
    char text[1024];       // the data of a EXTRAS_REG_SZ value
};

#pragma pack(pop)

constexpr std::uint32_t EXTRAS_HEADER_SIZE = 24;
constexpr std::uint32_t FOLDER_RECORD_SIZE = 260;
constexpr std::uint32_t REMOVAL_RECORD_SIZE = 264;
constexpr std::uint32_t REGISTRY_RECORD_SIZE = 1544;

static_assert(sizeof(ExtrasHeader) == EXTRAS_HEADER_SIZE);
static_assert(sizeof(FolderRecord) == FOLDER_RECORD_SIZE);
static_assert(sizeof(RemovalRecord) == REMOVAL_RECORD_SIZE);
static_assert(sizeof(RegistryRecord) == REGISTRY_RECORD_SIZE);
static_assert(offsetof(RemovalRecord, target) == 4);
static_assert(offsetof(RegistryRecord, key) == 8);
static_assert(offsetof(RegistryRecord, valueName) == 264);
static_assert(offsetof(RegistryRecord, text) == 520);

// The resource's bytes and their number; data null when the program carries none.
struct ExtrasImage {
    const unsigned char* data;
    std::uint32_t size;
};

// The header in place: 0 when the image is shorter than a header, its magic or format version
// is another, a count is negative or above EXTRAS_MAX_COUNT, or the records it counts do not
// all lie inside the image.
int GetExtrasHeader(const ExtrasImage& image, const ExtrasHeader** header);

// Record `index` in place: 0 when the header is not readable, the index is outside its count,
// or a text of the record has no NUL inside its field.
int GetFolderRecord(const ExtrasImage& image, std::int32_t index, const FolderRecord** record);
int GetRemovalRecord(const ExtrasImage& image, std::int32_t index, const RemovalRecord** record);
int GetRegistryRecord(const ExtrasImage& image, std::int32_t index, const RegistryRecord** record);

// What became of one folder, removal or value. The run's record, its summary, its log and
// `tidepack plan` all name an outcome by ExtraOutcomeWord.
enum ExtraOutcome {
    EXTRA_NOT_RUN,           // the run ended before this step (the dialog was closed)
    EXTRA_CREATED,           // folder created
    EXTRA_ALREADY_THERE,     // folder already there
    EXTRA_REMOVED,           // file removed
    EXTRA_NOT_THERE,         // no file to remove
    EXTRA_AT_RESTART,        // file held for good: removed at the next restart
    EXTRA_SET,               // registry value set
    EXTRA_KEY_MISSING,       // the value's key does not exist: a patch installs no product
    EXTRA_OUTSIDE,           // refused: the path is not beneath the install folder
    EXTRA_NO_INSTALL_DIR,    // refused: no install folder, or it does not exist
    EXTRA_ROOT_INSTALL_DIR,  // refused: the install folder is a drive or share root
    EXTRA_ENTRIES_NOT_DONE,  // skipped: not every entry was done
    EXTRA_DAMAGED,           // refused: the record cannot be read or names no allowed place
    EXTRA_FAILED,            // Windows refused the step
    EXTRA_EARLIER_FAILED,    // skipped: a value is set only when no step before it failed
};

// The outcome's word, as the run's record and `tidepack plan` print it.
const char* ExtraOutcomeWord(ExtraOutcome outcome);
