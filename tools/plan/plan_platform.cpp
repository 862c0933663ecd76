// SPDX-License-Identifier: MIT
#include "plan/plan_platform.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "authoring/code_page.h"
#include "base/registry.h"
#include "base/text.h"
#include "program/version_resource.h"
#include "rules/version_seam.h"
#include "shortcuts/shell_folders.h"
#include "extras/extras_seam.h"
#include "shortcuts/shell_seam.h"
#include "system/files.h"

namespace fs = std::filesystem;

namespace {

// The most read of a file for its version: a product's programs are far smaller.
constexpr std::uint64_t VERSION_FILE_LIMIT = std::uint64_t{1} << 30;

// The version block last read, so that the rule's size and read calls parse one file once.
struct CachedBlock {
    std::string path;
    std::vector<unsigned char> block;
    bool found = false;
};
CachedBlock g_cached;

const CachedBlock& VersionBlockOf(const char* path) {
    if (g_cached.path == path && !g_cached.path.empty()) return g_cached;
    PlanPlatform& platform = ThePlanPlatform();
    g_cached.path = path;
    g_cached.block.clear();
    std::vector<unsigned char> file;
    std::string error;
    const std::vector<unsigned char>* bytes = &file;
    if (platform.memoryPath == path)
        bytes = &platform.memoryBytes;
    else if (!LocalExists(path) ||
             !ReadWholeFile(LocalPath(path), &file, &error, VERSION_FILE_LIMIT))
        bytes = nullptr;
    g_cached.found = bytes && ReadVersionResource(bytes->data(), bytes->size(), &g_cached.block);
    return g_cached;
}

// One character from UTF-16 as the code page writes it; '?' where it has none, as Windows'
// conversion gives.
std::string AnsiCharacter(std::uint32_t codePoint, int codePage) {
    std::string utf8;
    if (codePoint < 0x80) return std::string(1, static_cast<char>(codePoint));
    if (codePoint < 0x800) {
        utf8 += static_cast<char>(0xC0 | codePoint >> 6);
    } else if (codePoint < 0x10000) {
        utf8 += static_cast<char>(0xE0 | codePoint >> 12);
        utf8 += static_cast<char>(0x80 | (codePoint >> 6 & 0x3F));
    } else {
        utf8 += static_cast<char>(0xF0 | codePoint >> 18);
        utf8 += static_cast<char>(0x80 | (codePoint >> 12 & 0x3F));
        utf8 += static_cast<char>(0x80 | (codePoint >> 6 & 0x3F));
    }
    utf8 += static_cast<char>(0x80 | (codePoint & 0x3F));
    std::string bytes, error;
    return EncodeText(utf8, codePage, &bytes, &error) ? bytes : "?";
}

std::uint32_t Unit(const unsigned char* at) {
    return at[0] | static_cast<std::uint32_t>(at[1]) << 8;
}

bool UnderTag(const std::string& path) { return !path.empty() && path[0] == '<'; }

}  // namespace

void ForgetCachedVersion() { g_cached = CachedBlock(); }

PlanPlatform& ThePlanPlatform() {
    static PlanPlatform platform;
    return platform;
}

std::string LocalPath(const std::string& ansiPath) {
    std::string path = DecodeText(ansiPath, ThePlanPlatform().codePage);
    for (char& c : path)
        if (c == '\\') c = static_cast<char>(fs::path::preferred_separator);
    return path;
}

bool LocalExists(const std::string& ansiPath) {
    std::error_code code;
    return ThePlanPlatform().createdFolders.count(ansiPath) ||
           (!UnderTag(ansiPath) && fs::exists(fs::u8path(LocalPath(ansiPath)), code));
}

bool LocalFolder(const std::string& ansiPath) {
    std::error_code code;
    return ThePlanPlatform().createdFolders.count(ansiPath) ||
           (!UnderTag(ansiPath) && fs::is_directory(fs::u8path(LocalPath(ansiPath)), code));
}

bool LocalReadOnly(const std::string& ansiPath) {
    std::error_code code;
    fs::file_status status = fs::status(fs::u8path(LocalPath(ansiPath)), code);
    constexpr fs::perms WRITE =
        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    return !UnderTag(ansiPath) && !code && fs::exists(status) &&
           (status.permissions() & WRITE) == fs::perms::none;
}

// --- the version seam: Windows' block is raw resource then room for the texts in ANSI, which
// VerQueryValueA fills as asked; this one is laid out the same.

std::uint32_t VersionInfoSize(const char* path, std::uint32_t* handle) {
    *handle = 0;
    const CachedBlock& cached = VersionBlockOf(path);
    return cached.found ? static_cast<std::uint32_t>(2 * cached.block.size()) : 0;
}

void* VersionBlockAlloc(std::uint32_t size) { return std::calloc(size ? size : 1, 1); }

void VersionBlockFree(void* block) { std::free(block); }

int VersionInfoRead(const char* path, std::uint32_t, std::uint32_t size, void* block) {
    const CachedBlock& cached = VersionBlockOf(path);
    if (!cached.found || 2 * cached.block.size() > size) return 0;
    std::memcpy(block, cached.block.data(), cached.block.size());
    return 1;
}

int VersionQueryValue(const void* block, const char* queryPath, const void** value,
                      std::uint32_t* length) {
    unsigned char* bytes = static_cast<unsigned char*>(const_cast<void*>(block));
    std::size_t raw = Unit(bytes);  // the root's wLength, as VersionInfoRead left it
    VersionValue found;
    if (!FindVersionValue(bytes, raw, queryPath, &found)) return 0;
    if (!found.text) {
        *value = bytes + found.offset;
        *length = static_cast<std::uint32_t>(found.length);
        return 1;
    }
    // At most two bytes a UTF-16 unit, so the text fits beside the value's own bytes.
    std::string text;
    const unsigned char* units = bytes + found.offset;
    for (std::size_t k = 0; k < found.length; ++k) {
        std::uint32_t unit = Unit(units + 2 * k), next = 0;
        if (unit >= 0xD800 && unit < 0xDC00 && k + 1 < found.length &&
            (next = Unit(units + 2 * (k + 1))) >= 0xDC00 && next < 0xE000) {
            text += AnsiCharacter(0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00),
                                  ThePlanPlatform().codePage);
            ++k;
        } else {
            text += AnsiCharacter(unit, ThePlanPlatform().codePage);
        }
    }
    char* ansi = reinterpret_cast<char*>(bytes + raw + found.offset);
    std::memcpy(ansi, text.c_str(), text.size() + 1);
    *value = ansi;
    *length = static_cast<std::uint32_t>(text.size() + 1);
    return 1;
}

// --- the shell seam: shortcuts and moves are recorded, never made

int LookUpSpecialFolder(int folderNumber, char* folder) {
    static const struct {
        int number;
        const char* tag;
    } TAGS[] = {{FOLDER_COMMON_PROGRAMS, "<ProgramMenu>"},
                {FOLDER_DESKTOP_DIRECTORY, "<Desktop>"},
                {FOLDER_START_MENU, "<StartMenu>"},
                {FOLDER_STARTUP, "<StartUpMenu>"}};
    for (int k = 0; k < 4; ++k) {
        if (TAGS[k].number != folderNumber) continue;
        const std::string& given = ThePlanPlatform().shellFolders[k];
        return TextCopy(folder, PATH_TEXT_SIZE, given.empty() ? TAGS[k].tag : given.c_str());
    }
    return 0;
}

// As Windows Vista and later: Quick Launch lies under the user's AppData.
int ReadVersionNumbers(unsigned* major, unsigned* minor, unsigned* platform) {
    *major = 6;
    *minor = 1;
    *platform = OS_PLATFORM_NT;
    return 1;
}

int ShortcutPathExists(const char* path) {
    PlanPlatform& platform = ThePlanPlatform();
    if (!LocalExists(path)) return 0;
    if (platform.shortcuts) {
        PlannedShortcut kept;
        kept.link = DecodeText(path, platform.codePage);
        kept.exists = true;
        platform.shortcuts->push_back(kept);
    }
    return 1;
}

int ShortcutFolderOpens(const char* folder) { return LocalExists(folder) ? 1 : 0; }

void MakeShortcutFolder(const char*) {}

int CopyShortcutFile(const char* source, const char* destination) {
    PlanPlatform& platform = ThePlanPlatform();
    // A shortcut under a folder not given may be there; the plan says it would move.
    bool there = UnderTag(source) || LocalExists(source);
    if (platform.move) {
        platform.move->toPath = DecodeText(destination, platform.codePage);
        if (there) platform.move->action = PlanMoveAction::Move;
    }
    return there ? 1 : 0;
}

void DeleteShortcutFile(const char*) {
    PlanPlatform& platform = ThePlanPlatform();
    if (platform.move && platform.move->action != PlanMoveAction::Move)
        platform.move->action = PlanMoveAction::Delete;
}

int SaveShellLink(const char* targetPath, const char* arguments, const char* linkPath,
                  const char* workingDir, const char* description) {
    (void)targetPath;
    PlanPlatform& platform = ThePlanPlatform();
    if (!platform.shortcuts) return 1;
    PlannedShortcut made;
    made.link = DecodeText(linkPath, platform.codePage);
    made.arguments = DecodeText(arguments, platform.codePage);
    made.workingDir = DecodeText(workingDir, platform.codePage);
    made.description = DecodeText(description, platform.codePage);
    platform.shortcuts->push_back(made);
    return 1;
}

// --- the registry: only the AppData shell folder, for Quick Launch

RegistryRead ReadRegistryFolder(RegistryRoot root, const char* subKey, unsigned,
                                const char* valueName, char* folder) {
    if (root != REGISTRY_CURRENT_USER ||
        std::strcmp(subKey,
                    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders") != 0 ||
        std::strcmp(valueName, "AppData") != 0)
        return REGISTRY_NO_KEY;
    const std::string& given = ThePlanPlatform().shellFolders[4];
    std::string text = given.empty() ? "<AppData>" : given;
    if (text.size() + 1 > PATH_TEXT_SIZE) return REGISTRY_NO_FOLDER;
    std::memcpy(folder, text.c_str(), text.size() + 1);
    return REGISTRY_READ;
}

// --- the steps' seam: a folder is "created" by being counted as there, a file "removed" when
// it is there; nothing changes on this machine. The registry is not this machine's, so every
// value counts as set: the program sets it only in a key that exists.

int LoadExtrasResource(ExtrasImage* image) {
    *image = ThePlanPlatform().extras;
    return image->data != nullptr;
}

PathKind GetPathKind(const char* path) {
    if (ThePlanPlatform().createdFolders.count(path)) return PATH_FOLDER;
    if (UnderTag(path)) return PATH_OTHER;
    std::error_code code;
    fs::file_status status = fs::symlink_status(fs::u8path(LocalPath(path)), code);
    if (code || !fs::exists(status)) return PATH_NONE;
    if (fs::is_symlink(status)) return PATH_LINK;
    if (fs::is_directory(status)) return PATH_FOLDER;
    if (fs::is_regular_file(status) && !LocalReadOnly(path)) return PATH_FILE;
    return PATH_OTHER;
}

// The plan changes nothing, so no step of its own is ever refused by the system.
unsigned long LastStepError() { return 0; }

int CreateOneFolder(const char* path) {
    ThePlanPlatform().createdFolders.insert(path);
    return 1;
}

FileRemoval RemoveOneFile(const char* path) { return LocalExists(path) ? FILE_REMOVED : FILE_GONE; }

// Nothing is held here: the copy changes under nobody's run.
void* HoldPath(const char* path, int, PathKind* kind) {
    *kind = GetPathKind(path);
    static char token;
    return *kind == PATH_NONE ? nullptr : &token;
}

FileRemoval RemoveHeldFile(void*, const char* path) { return RemoveOneFile(path); }

void ReleasePath(void*) {}

int RemoveEmptyFolder(const char*) { return 0; }

ValueWrite WriteRegistryValue(RegistryRoot, const char*, unsigned, const char*, std::uint32_t,
                              const char*, std::uint32_t) {
    return VALUE_WRITTEN;
}
