// SPDX-License-Identifier: MIT
#include "authoring/package_file.h"

#include <zlib.h>
#define TOML_EXCEPTIONS 0

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>

#include "base/code_page.h"
#include "base/text.h"
#include "authoring/code_page.h"
#include "program/pe_resource.h"
#include "rules/rules_seam.h"

namespace fs = std::filesystem;

namespace {

std::string g_windowsFolder = "C:\\WINDOWS";
std::string g_systemFolder = "C:\\WINDOWS\\system32";
int g_codePage = 932;

}  // namespace

const char* const SHORTCUT_TAG_NAMES[5] = {"<ProgramMenu>", "<Desktop>", "<StartMenu>",
                                           "<StartUpMenu>", "<QuickLaunch>"};
const char* const FILE_PLACEHOLDER_NAMES[3] = {"<InstallDir>", "<WindowsDir>", "<SystemDir>"};

int ShortcutTagOf(const char* text) {
    for (int k = 0; k < 5; ++k)
        if (BeginsWithName(text, SHORTCUT_TAG_NAMES[k])) return k;
    return -1;
}

int FilePlaceholderOf(const char* text) {
    for (int k = 0; k < 3; ++k)
        if (BeginsWithName(text, FILE_PLACEHOLDER_NAMES[k])) return k;
    return -1;
}

void SetPlatformFolders(const std::string& windowsFolder, const std::string& systemFolder) {
    g_windowsFolder = windowsFolder;
    g_systemFolder = systemFolder;
}

// tidepack stands where the platform would: the folders are the ones it was told.
int GetWindowsFolder(char* folder) {
    return TextCopy(folder, PATH_TEXT_SIZE, g_windowsFolder.c_str());
}

int GetSystemFolder(char* folder) {
    return TextCopy(folder, PATH_TEXT_SIZE, g_systemFolder.c_str());
}

void SetPlatformCodePage(int codePage) { g_codePage = codePage; }

int IsAnsiLeadByte(unsigned char byte) { return IsLeadByteOf(g_codePage, byte); }

std::string NameFault(const std::string& text, int codePage, NameKind kind) {
    std::string bytes = text;
    if (kind == NameKind::Folder || kind == NameKind::Shortcut) {
        int k = kind == NameKind::Folder ? FilePlaceholderOf(text.c_str())
                                         : ShortcutTagOf(text.c_str());
        const char* name = k < 0                      ? ""
                           : kind == NameKind::Folder ? FILE_PLACEHOLDER_NAMES[k]
                                                      : SHORTCUT_TAG_NAMES[k];
        bytes = text.substr(std::strlen(name));
    }
    std::size_t start = 0;  // where the names begin, after a drive or UNC root
    if (kind == NameKind::Absolute) {
        bool drive = bytes.size() >= 3 && std::isalpha(static_cast<unsigned char>(bytes[0])) &&
                     bytes[1] == ':' && (bytes[2] == '\\' || bytes[2] == '/');
        bool unc = bytes.compare(0, 2, "\\\\") == 0;
        if (!drive && !unc)
            return "is not a full path: it must begin with a drive (C:\\) or a network share "
                   "(\\\\server\\share)";
        start = 3;
        if (unc) {
            std::size_t server = bytes.find('\\', 2);
            start = server == std::string::npos ? server : bytes.find('\\', server + 1);
            if (start == std::string::npos) start = bytes.size();
            if (server == std::string::npos || server == 2 || start == server + 1)
                return "names no share: a network folder is \\\\server\\share\\folder";
        }
        if (bytes.find_first_not_of('\\', start) == std::string::npos)
            return "names the root of a drive or share, not the product's folder";
    }
    // Split where Windows splits: a single-byte '\\' or '/', never the second byte of a
    // character.
    std::vector<std::string> parts(1);
    for (std::size_t i = start; i < bytes.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (IsLeadByteOf(codePage, c) && i + 1 < bytes.size()) {
            parts.back() += bytes.substr(i++, 2);
            continue;
        }
        if (c < 0x20) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            return std::string("holds the control character ") + hex;
        }
        if (c == ':') return "holds ':', which Windows takes for a drive or a stream";
        if (c != 0 && std::strchr("\"|*?<>", c))
            return std::string("holds '") + static_cast<char>(c) +
                   "', which Windows does not allow";
        // The program makes a shortcut's folders at its backslashes only.
        if (c == '/' && kind == NameKind::Shortcut)
            return "holds '/'; put '\\' between a shortcut's folders";
        if (c == '\\' || c == '/') {
            if (kind == NameKind::File)
                return "holds a '\\' or '/'; a file's folders belong in its folder";
            if (kind == NameKind::Relative && i == 0)
                return "begins with a '\\' or '/'; it is appended after one";
            if (i == start) continue;
            parts.emplace_back();
            continue;
        }
        parts.back() += static_cast<char>(c);
    }
    if ((kind == NameKind::Folder || kind == NameKind::Shortcut) && !bytes.empty() &&
        bytes[0] != '\\' && bytes[0] != '/')
        return kind == NameKind::Folder
                   ? "goes on from its placeholder without a backslash, into another folder"
                   : "goes on from its tag without a backslash, into another folder";
    static const char* const DEVICES[] = {"CON", "PRN", "AUX", "NUL"};
    for (const std::string& part : parts) {
        if (part.empty()) continue;
        if (part == "..") return "climbs out of its folder with '..'";
        if (part.back() == '.' || part.back() == ' ')
            return "has a name '" + DecodeText(part, codePage) +
                   "' ending in a dot or space, which Windows drops";
        std::string stem = part.substr(0, part.find('.'));
        stem.erase(stem.find_last_not_of(' ') + 1);
        for (char& c : stem) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        bool device = stem.size() == 4 &&
                      (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
                      stem[3] >= '1' && stem[3] <= '9';
        for (const char* name : DEVICES) device = device || stem == name;
        if (device) return "has the name '" + stem + "', which Windows keeps for a device";
    }
    return "";
}

std::string ExtrasPathOf(const std::string& packagePath) { return packagePath + ".extras"; }

std::string TextsPathOf(const std::string& packagePath) { return packagePath + ".texts"; }

int LoadPackageFile(const std::string& path, PackageFile* file, std::string* error) {
    if (!ReadWholeFile(path, &file->bytes, error) || !FindPackageInBytes(file, error)) return 0;
    std::error_code code;
    std::string texts = TextsPathOf(path);
    if (file->origin.empty() && fs::exists(fs::u8path(texts), code)) {
        if (!ReadWholeFile(texts, &file->textsBytes, error, 0xFFFFFFFFu)) {
            *error = "the texts beside it, " + texts + ": " + *error;
            return 0;
        }
        file->texts =
            UnicodeTextsImage{file->textsBytes.empty() ? nullptr : file->textsBytes.data(),
                              static_cast<std::uint32_t>(file->textsBytes.size())};
        file->textsOrigin = texts;
    }
    std::string beside = ExtrasPathOf(path);
    if (!file->origin.empty() || !fs::exists(fs::u8path(beside), code)) return 1;
    if (!ReadWholeFile(beside, &file->extrasBytes, error, 0xFFFFFFFFu)) {
        *error = "the steps beside it, " + beside + ": " + *error;
        return 0;
    }
    file->extras = ExtrasImage{file->extrasBytes.empty() ? nullptr : file->extrasBytes.data(),
                               static_cast<std::uint32_t>(file->extrasBytes.size())};
    file->extrasOrigin = beside;
    return 1;
}

int FindPackageInBytes(PackageFile* file, std::string* error) {
    file->origin.clear();
    const unsigned char* data = file->bytes.empty() ? nullptr : file->bytes.data();
    std::uint64_t size = file->bytes.size();
    if (LooksLikePe(data, size)) {
        PeResource resource;
        if (!FindPeResource(data, size, PACKAGE_RESOURCE_TYPE, PACKAGE_RESOURCE_ID,
                            PACKAGE_RESOURCE_LANGUAGE, &resource, error)) {
            *error = "a program without a package: " + *error;
            return 0;
        }
        file->image = PackageImage{data + resource.offset, resource.size};
        file->origin = "RCDATA 1, language " + std::to_string(resource.language) +
                       ", at file offset " + std::to_string(resource.offset);
        // Another RCDATA 2, without the steps' magic, is the program's own: the update program
        // reads no steps from it, and neither does tidepack.
        std::string none;
        std::uint32_t magic = 0;
        if (FindPeResource(data, size, PACKAGE_RESOURCE_TYPE, EXTRAS_RESOURCE_ID,
                           PACKAGE_RESOURCE_LANGUAGE, &resource, &none) &&
            resource.size >= 4 &&
            (std::memcpy(&magic, data + resource.offset, 4), magic) == EXTRAS_MAGIC) {
            file->extras = ExtrasImage{data + resource.offset, resource.size};
            file->extrasOrigin = "RCDATA 2, language " + std::to_string(resource.language) +
                                 ", at file offset " + std::to_string(resource.offset);
        }
        if (FindPeResource(data, size, PACKAGE_RESOURCE_TYPE, UNICODE_TEXTS_RESOURCE_ID,
                           PACKAGE_RESOURCE_LANGUAGE, &resource, &none) &&
            resource.size >= 4 &&
            (std::memcpy(&magic, data + resource.offset, 4), magic) == UNICODE_TEXTS_MAGIC) {
            file->texts = UnicodeTextsImage{data + resource.offset, resource.size};
            file->textsOrigin = "RCDATA 3, language " + std::to_string(resource.language) +
                                ", at file offset " + std::to_string(resource.offset);
        }
        return 1;
    }
    if (size > 0xFFFFFFFFu) {
        *error = "larger than 4 GiB, more than a package can be";
        return 0;
    }
    if (IsManifestText(data, size)) {
        *error =
            "a manifest, not a package: 'tidepack build MANIFEST -o PACKAGE' makes the "
            "package from it";
        return 0;
    }
    file->image = PackageImage{data, static_cast<std::uint32_t>(size)};
    return 1;
}

Inflated InflateInPieces(const unsigned char* stream, std::uint64_t size, std::uint64_t limit,
                         const std::function<bool(const unsigned char*, std::size_t)>& piece) {
    Inflated inflated;
    z_stream z{};
    if (inflateInit(&z) != Z_OK) {
        inflated.result = Z_MEM_ERROR;
        return inflated;
    }
    std::uint64_t offered = 0;
    unsigned char out[65536];
    for (;;) {
        if (z.avail_in == 0 && offered < size) {  // avail_in is 32-bit
            std::uint64_t chunk = std::min<std::uint64_t>(size - offered, 1u << 30);
            z.next_in = const_cast<unsigned char*>(stream + offered);
            z.avail_in = static_cast<uInt>(chunk);
            offered += chunk;
        }
        z.next_out = out;
        z.avail_out = sizeof out;
        inflated.result = inflate(&z, Z_NO_FLUSH);
        std::size_t got = sizeof out - z.avail_out;
        inflated.produced += got;
        if (inflated.produced > limit) break;
        if (piece && got != 0 && !piece(out, got)) break;
        if (inflated.result != Z_OK) break;
        if (z.avail_in == 0 && offered == size && z.avail_out != 0) break;  // no end seen
    }
    inflated.message = z.msg ? z.msg : "data error";
    inflated.left = z.avail_in + (size - offered);
    inflateEnd(&z);
    return inflated;
}

int FieldText(const PackageImage& image, const char* field, std::size_t width, std::string* text,
              bool* inField) {
    const char* start = PackageText(image, field);
    if (!start) return 0;
    *text = start;
    *inField = text->size() < width;
    return 1;
}

std::string FlagNames(std::uint32_t flags) {
    if (flags == 0) return "none";
    std::string names;
    auto add = [&names](const std::string& name) { names += (names.empty() ? "" : "|") + name; };
    if (flags & ENTRY_ALWAYS_REPLACE) add("ENTRY_ALWAYS_REPLACE");
    if (flags & ENTRY_RUN_AFTER) add("ENTRY_RUN_AFTER");
    std::uint32_t other = flags & ~(ENTRY_ALWAYS_REPLACE | ENTRY_RUN_AFTER);
    if (other) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%X", other);
        add(hex);
    }
    return names;
}

std::uint64_t FieldOffset(const PackageImage& image, const void* field) {
    return static_cast<std::uint64_t>(static_cast<const unsigned char*>(field) - image.data);
}

std::string Count(std::uint64_t count, const std::string& singular, const std::string& plural) {
    return std::to_string(count) + " " +
           (count == 1       ? singular
            : plural.empty() ? singular + "s"
                             : plural);
}

namespace {

// The folders of a machine that only an administrator may write to.
bool IsMachineWideFolder(const std::string& folder) {
    if (folder.size() < 3 || folder[1] != ':' || folder[2] != '\\') return false;
    for (const char* name : {"Program Files", "ProgramData", "Windows", "WINNT"}) {
        std::size_t length = std::strlen(name);
        if (folder.size() >= 3 + length && BeginsWithName(folder.c_str() + 3, name) &&
            (folder.size() == 3 + length || folder[3 + length] == '\\' ||
             folder[3 + length] == ' '))
            return true;
    }
    return false;
}

}  // namespace

std::string AsInvokerWarning(const std::string& registryKey, const std::string& defaultFolder,
                             const std::vector<EntryPlace>& entries, int codePage) {
    if (!BeginsWithName(registryKey.c_str(), "HKEY_CURRENT_USER\\")) return "";
    std::string named;
    std::size_t count = 0;
    for (const EntryPlace& entry : entries) {
        int placeholder = FilePlaceholderOf(entry.folder.c_str());
        if (placeholder < 0 || (placeholder == 0 && !IsMachineWideFolder(defaultFolder))) continue;
        if (++count <= 5)
            named += (count > 1 ? ", " : "") + DecodeText(entry.folder, codePage) + "\\" +
                     DecodeText(entry.fileName, codePage);
    }
    if (count == 0) return "";
    if (count > 5) named += " and " + std::to_string(count - 5) + " more";
    return "the patch program will run as the invoking user (asInvoker: registryKey is under "
           "HKEY_CURRENT_USER), but " +
           Count(count, "file goes", "files go") +
           " where only an administrator may write (<SystemDir>, <WindowsDir>, or a "
           "defaultFolder in Program Files, ProgramData or Windows): " +
           named +
           "; a standard user's run leaves them unchanged. Set executionLevel = "
           "'requireAdministrator' (or 'highestAvailable') in the manifest and make the program "
           "from the manifest (a package alone always takes the level from registryKey), or "
           "set executionLevel = 'asInvoker' if these files are meant to stay for such users";
}
