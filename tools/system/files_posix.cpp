// SPDX-License-Identifier: MIT
// Files on Linux and other POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>

#include "system/files.h"

namespace fs = std::filesystem;

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

int MakePrivateFolder(const std::string& path, const std::string& tag, std::string* folder,
                      std::string* error) {
    fs::path target = fs::u8path(path);
    std::error_code code;
    // Absolute, for a command that changes its folder before it uses it.
    fs::path beside = fs::absolute(target, code).parent_path();
    std::string pattern =
        (beside / ("." + target.filename().u8string() + "." + tag + "-XXXXXX")).u8string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (code || !mkdtemp(name.data())) {
        *error = "cannot create a folder in " + beside.u8string() + ": " +
                 (code ? code.message() : std::strerror(errno));
        return 0;
    }
    *folder = name.data();
    return 1;
}

int PutInPlace(const std::string& from, const std::string& to, std::string* error) {
    int fd = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    bool synced = fd >= 0 && fsync(fd) == 0;
    if (fd >= 0) close(fd);
    if (!synced || chmod(from.c_str(), 0755) != 0 || std::rename(from.c_str(), to.c_str()) != 0) {
        *error = std::strerror(errno);
        return 0;
    }
    return 1;
}

int CanRead(const std::string& path, std::string* error) {
    if (access(path.c_str(), R_OK) == 0) return 1;
    *error = std::strerror(errno);
    return 0;
}

std::string ToolPath() {
    std::error_code code;
    fs::path self = fs::read_symlink("/proc/self/exe", code);
    return code ? "" : self.u8string();
}

bool OnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "";
    for (std::size_t start = 0; start <= folders.size();) {
        std::size_t end = std::min(folders.find(':', start), folders.size());
        std::string folder = end > start ? folders.substr(start, end - start) : ".";
        if (access((folder + "/" + name).c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

int GetEnvironment(const std::string& name, std::string* value) {
    const char* found = std::getenv(name.c_str());
    if (!found) return 0;
    *value = found;
    return 1;
}

bool ErrorsToTerminal() { return isatty(STDERR_FILENO) != 0; }

std::string LastSystemError() { return std::strerror(errno); }
