#include "package_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "base/text.h"
#include "pe_resource.h"
#include "rules/rules_seam.h"

namespace fs = std::filesystem;

namespace {

std::string g_windowsFolder = "C:\\WINDOWS";
std::string g_systemFolder = "C:\\WINDOWS\\system32";

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

int ReadWholeFile(const std::string& path, std::vector<unsigned char>* bytes, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        *error = std::strerror(errno);
        return 0;
    }
    bytes->clear();
    unsigned char buffer[65536];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes->insert(bytes->end(), buffer, buffer + got);
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        *error = "read error";
        return 0;
    }
    return 1;
}

int LoadPackageFile(const std::string& path, PackageFile* file, std::string* error) {
    if (!ReadWholeFile(path, &file->bytes, error)) return 0;
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
    file->image = PackageImage{data, static_cast<std::uint32_t>(size)};
    return 1;
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

// Writes `bytes` to a new file beside `path` and renames it over `path`, so `path` is either
// the whole package or left as it was.
int WriteFileWhole(const std::string& path, const std::vector<unsigned char>& bytes,
                   std::string* error) {
    fs::path target = fs::u8path(path);
    fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    std::string pattern = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) {
        *error =
            std::string("cannot create a file in ") + folder.string() + ": " + std::strerror(errno);
        return 0;
    }
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
