#include "package_file.h"

#include <fcntl.h>
#include <zlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>

#include "base/code_page.h"
#include "base/text.h"
#include "codepage.h"
#include "manifest.h"
#include "pe_resource.h"
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

int ReadWholeFile(const std::string& path, std::vector<unsigned char>* bytes, std::string* error,
                  std::uint64_t limit) {
    // Non-blocking, so that a fifo without a writer cannot hold us before the check below.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = std::strerror(errno);
        return 0;
    }
    struct stat status;
    bool ok = fstat(fd, &status) == 0;
    if (!ok) {
        *error = std::strerror(errno);
    } else if (S_ISDIR(status.st_mode)) {
        *error = "a folder, not a file";
        ok = false;
    } else if (!S_ISREG(status.st_mode)) {
        *error = "not a regular file (a device, fifo or socket)";
        ok = false;
    } else if (static_cast<std::uint64_t>(status.st_size) > limit) {
        *error = "larger than " + std::to_string(limit) + " bytes, more than tidepack reads";
        ok = false;
    }
    bytes->clear();
    try {
        if (ok) bytes->reserve(static_cast<std::size_t>(status.st_size));
    } catch (const std::bad_alloc&) {
        *error = "not enough memory to read its " + std::to_string(status.st_size) + " bytes";
        ok = false;
    }
    unsigned char buffer[65536];
    while (ok) {
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (got < 0) *error = std::string("read error: ") + std::strerror(errno);
            ok = got == 0;
            break;
        }
        // The size seen above is no promise: the file may grow while it is read.
        if (bytes->size() + static_cast<std::size_t>(got) > limit) {
            *error = "grew past " + std::to_string(limit) + " bytes while being read";
            ok = false;
            break;
        }
        bytes->insert(bytes->end(), buffer, buffer + got);
    }
    close(fd);
    if (!ok) bytes->clear();
    return ok ? 1 : 0;
}

int LoadPackageFile(const std::string& path, PackageFile* file, std::string* error) {
    return ReadWholeFile(path, &file->bytes, error) && FindPackageInBytes(file, error);
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

int CheckOutputPath(const std::string& output, const std::vector<std::string>& inputs,
                    std::string* error) {
    struct stat target;
    if (lstat(output.c_str(), &target) != 0) {
        if (errno == ENOENT) return 1;
        *error = std::strerror(errno);
        return 0;
    }
    if (S_ISLNK(target.st_mode)) {
        *error = "is a symbolic link; give the path it points to, or another";
        return 0;
    }
    if (!S_ISREG(target.st_mode)) {
        *error = S_ISDIR(target.st_mode) ? "is a folder" : "is a device, fifo or socket";
        return 0;
    }
    for (const std::string& input : inputs) {
        struct stat other;
        if (stat(input.c_str(), &other) == 0 && other.st_dev == target.st_dev &&
            other.st_ino == target.st_ino) {
            *error = "is the same file as the input " + input;
            return 0;
        }
    }
    return 1;
}

namespace {

bool WriteAll(int fd, const std::vector<unsigned char>& bytes, std::string* error) {
    std::size_t written = 0;
    bool ok = true;
    while (ok && written < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) written += static_cast<std::size_t>(n);
    }
    if (ok) ok = fchmod(fd, 0644) == 0 && fsync(fd) == 0;
    if (!ok) *error = std::string("cannot write: ") + std::strerror(errno);
    return ok;
}

// An unnamed file in `folder`, given a name only once it is whole: a kill before then leaves
// nothing. -1, with nothing written, where O_TMPFILE or /proc is missing.
int WriteUnnamed(const fs::path& folder, const fs::path& target,
                 const std::vector<unsigned char>& bytes, std::string* error) {
    int fd = open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
    if (fd < 0) return -1;
    bool ok = WriteAll(fd, bytes, error);
    std::string self = "/proc/self/fd/" + std::to_string(fd);
    // A new target is linked in directly; an existing one is replaced by a rename from a
    // hidden name, which stands only for that moment.
    if (ok && linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) != 0) {
        if (errno != EEXIST) {  // no /proc, say: the named way still works
            close(fd);
            return -1;
        }
        ok = false;
        for (int attempt = 0; attempt < 100 && !ok; ++attempt) {
            fs::path hidden = folder / ("." + target.filename().string() + "." +
                                        std::to_string(getpid()) + "." + std::to_string(attempt));
            if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, hidden.c_str(), AT_SYMLINK_FOLLOW) != 0) {
                if (errno == EEXIST) continue;
                break;
            }
            ok = std::rename(hidden.c_str(), target.c_str()) == 0;
            if (!ok) {
                int saved = errno;
                unlink(hidden.c_str());
                errno = saved;
            }
            break;
        }
        if (!ok) *error = std::string("cannot put the file in place: ") + std::strerror(errno);
    }
    close(fd);
    return ok ? 1 : 0;
}

}  // namespace

// The file appears whole or not at all: the bytes go to an unnamed or hidden file beside
// `path`, which then takes its place.
int WriteFileWhole(const std::string& path, const std::vector<unsigned char>& bytes,
                   std::string* error) {
    fs::path target = fs::u8path(path);
    fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    int unnamed = WriteUnnamed(folder, target, bytes, error);
    if (unnamed >= 0) return unnamed;
    std::string pattern = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) {
        *error =
            std::string("cannot create a file in ") + folder.string() + ": " + std::strerror(errno);
        return 0;
    }
    bool ok = WriteAll(fd, bytes, error);
    if (close(fd) != 0 && ok) {
        ok = false;
        *error = std::string("cannot write: ") + std::strerror(errno);
    }
    if (ok && std::rename(name.data(), target.c_str()) != 0) {
        ok = false;
        *error = std::string("cannot rename into place: ") + std::strerror(errno);
    }
    if (!ok) std::remove(name.data());
    return ok ? 1 : 0;
}

std::string Count(std::uint64_t count, const std::string& singular, const std::string& plural) {
    return std::to_string(count) + " " +
           (count == 1       ? singular
            : plural.empty() ? singular + "s"
                             : plural);
}
