// SPDX-License-Identifier: MIT
// Files on Windows: wide calls only, so that every path works on any system code page.
#include <windows.h>
#include <bcrypt.h>
#include <sddl.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <new>

#include "system/files.h"
#include "system/win32.h"

namespace fs = std::filesystem;

namespace {

// A handle closed however the call returns.
struct Handle {
    HANDLE value = INVALID_HANDLE_VALUE;
    explicit Handle(HANDLE handle) : value(handle) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() {
        if (ok()) CloseHandle(value);
    }
    bool ok() const { return value != INVALID_HANDLE_VALUE && value != nullptr; }
};

std::string LastError() { return SystemMessage(GetLastError()); }

// Opens `path` for its attributes and identity only; folders too, and a link itself rather
// than what it points to when `link` is set.
HANDLE OpenToLook(const std::wstring& path, bool link) {
    return CreateFileW(
        path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | (link ? FILE_FLAG_OPEN_REPARSE_POINT : 0), nullptr);
}

bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

bool WriteAll(HANDLE file, const std::vector<unsigned char>& bytes, std::string* error) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        DWORD piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - written, 1u << 24));
        DWORD done = 0;
        if (!WriteFile(file, bytes.data() + written, piece, &done, nullptr) || done == 0) {
            *error = "cannot write: " + LastError();
            return false;
        }
        written += done;
    }
    if (!FlushFileBuffers(file)) {
        *error = "cannot write: " + LastError();
        return false;
    }
    return true;
}

// Takes `from`'s place at `to`, replacing it, once the rename is on the disk.
bool MoveOver(const std::wstring& from, const std::wstring& to) {
    return MoveFileExW(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

// "D:P(A;OICI;FA;;;<the user's SID>)": full control for this user alone, passed on to what is
// made inside. Empty when the user cannot be told.
std::wstring UserOnlyAcl() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return L"";
    Handle guard(token);
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    LPWSTR sid = nullptr;
    if (size == 0 || !GetTokenInformation(token, TokenUser, buffer.data(), size, &size) ||
        !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid))
        return L"";
    std::wstring acl = L"D:P(A;OICI;FA;;;" + std::wstring(sid) + L")";
    LocalFree(sid);
    return acl;
}

}  // namespace

std::wstring Widen(const std::string& text) {
    if (text.empty()) return L"";
    int length =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

std::string Narrow(const std::wstring& text) {
    if (text.empty()) return "";
    int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                     nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &narrow[0], length,
                        nullptr, nullptr);
    return narrow;
}

std::string SystemMessage(unsigned long code) {
    // The texts a Linux user of tidepack reads for the two most common failures.
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
        return "No such file or directory";
    if (code == ERROR_ACCESS_DENIED) return "Permission denied";
    wchar_t* text = nullptr;
    DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                  FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK;
    DWORD length =
        FormatMessageW(flags, nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                       reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    if (length == 0)
        length =
            FormatMessageW(flags, nullptr, code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::string message = length ? Narrow(std::wstring(text, length)) : "";
    if (text) LocalFree(text);
    while (!message.empty() && (message.back() == ' ' || message.back() == '.' ||
                                message.back() == '\r' || message.back() == '\n'))
        message.pop_back();
    if (message.empty()) message = "Windows error " + std::to_string(code);
    return message;
}

std::wstring FindProgram(const std::string& name) {
    auto isFile = [](const std::wstring& path) {
        DWORD attributes = GetFileAttributesW(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    };
    fs::path given = fs::u8path(name);
    std::vector<std::wstring> names;
    if (given.has_extension()) names.push_back(given.wstring());
    names.push_back(given.wstring() + L".exe");
    if (name.find_first_of("\\/:") != std::string::npos) {
        for (const std::wstring& candidate : names)
            if (isFile(candidate)) return candidate;
        return L"";
    }
    DWORD size = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    std::wstring folders(size, L'\0');
    folders.resize(size ? GetEnvironmentVariableW(L"PATH", &folders[0], size) : 0);
    for (std::size_t start = 0; start < folders.size();) {
        std::size_t end = std::min(folders.find(L';', start), folders.size());
        std::wstring folder = folders.substr(start, end - start);
        start = end + 1;
        if (folder.size() >= 2 && folder.front() == L'"' && folder.back() == L'"')
            folder = folder.substr(1, folder.size() - 2);
        if (folder.empty()) continue;
        for (const std::wstring& candidate : names) {
            std::wstring path = (fs::path(folder) / candidate).wstring();
            if (isFile(path)) return path;
        }
    }
    return L"";
}

std::wstring RandomName(std::size_t count) {
    static const wchar_t LETTERS[] =
        L"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::vector<unsigned char> bytes(count);
    if (BCryptGenRandom(nullptr, bytes.data(), static_cast<ULONG>(count),
                        BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0) {
        // Not guessable then, but still unlikely to meet another's: the clock and our id.
        ULONGLONG seed = GetTickCount64() * 2654435761u + GetCurrentProcessId();
        for (unsigned char& byte : bytes) byte = static_cast<unsigned char>(seed >>= 3);
    }
    std::wstring name;
    for (unsigned char byte : bytes) name += LETTERS[byte % 62];
    return name;
}

int ReadWholeFile(const std::string& path, std::vector<unsigned char>* bytes, std::string* error,
                  std::uint64_t limit) {
    bytes->clear();
    Handle file(CreateFileW(
        Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.ok()) {
        *error = LastError();
        return 0;
    }
    BY_HANDLE_FILE_INFORMATION information;
    LARGE_INTEGER size;
    if (GetFileType(file.value) != FILE_TYPE_DISK) {
        *error = "not a regular file (a device, fifo or socket)";
        return 0;
    }
    if (!GetFileInformationByHandle(file.value, &information) ||
        !GetFileSizeEx(file.value, &size)) {
        *error = LastError();
        return 0;
    }
    if (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        *error = "a folder, not a file";
        return 0;
    }
    if (static_cast<std::uint64_t>(size.QuadPart) > limit) {
        *error = "larger than " + std::to_string(limit) + " bytes, more than tidepack reads";
        return 0;
    }
    try {
        bytes->reserve(static_cast<std::size_t>(size.QuadPart));
    } catch (const std::bad_alloc&) {
        *error = "not enough memory to read its " + std::to_string(size.QuadPart) + " bytes";
        return 0;
    }
    std::vector<unsigned char> piece(1 << 16);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.value, piece.data(), static_cast<DWORD>(piece.size()), &got, nullptr)) {
            *error = "read error: " + LastError();
            bytes->clear();
            return 0;
        }
        if (got == 0) break;
        // The size seen above is no promise: the file may grow while it is read.
        if (bytes->size() + got > limit) {
            *error = "grew past " + std::to_string(limit) + " bytes while being read";
            bytes->clear();
            return 0;
        }
        bytes->insert(bytes->end(), piece.data(), piece.data() + got);
    }
    return 1;
}

int CheckOutputPath(const std::string& output, const std::vector<std::string>& inputs,
                    std::string* error) {
    std::wstring wide = Widen(output);
    // CON, NUL, COM1 and the like, in any folder, are the devices' own names.
    wchar_t full[MAX_PATH];
    DWORD length = GetFullPathNameW(wide.c_str(), MAX_PATH, full, nullptr);
    if (length > 4 && length < MAX_PATH && std::wstring(full, 4) == L"\\\\.\\") {
        *error = "is a device, fifo or socket";
        return 0;
    }
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return 1;
        *error = SystemMessage(code);
        return 0;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        *error = "is a symbolic link or junction; give the path it points to, or another";
        return 0;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        *error = "is a folder";
        return 0;
    }
    Handle target(OpenToLook(wide, true));
    BY_HANDLE_FILE_INFORMATION targetInformation;
    if (!target.ok()) {
        *error = LastError();
        return 0;
    }
    if (GetFileType(target.value) != FILE_TYPE_DISK) {
        *error = "is a device, fifo or socket";
        return 0;
    }
    if (!GetFileInformationByHandle(target.value, &targetInformation)) {
        *error = LastError();
        return 0;
    }
    for (const std::string& input : inputs) {
        Handle other(OpenToLook(Widen(input), false));
        BY_HANDLE_FILE_INFORMATION information;
        if (other.ok() && GetFileInformationByHandle(other.value, &information) &&
            SameFile(information, targetInformation)) {
            *error = "is the same file as the input " + input;
            return 0;
        }
    }
    return 1;
}

// The file appears whole or not at all: the bytes go to a hidden file beside `path`, which
// then takes its place; a failure deletes it. A kill can leave that hidden file behind.
int WriteFileWhole(const std::string& path, const std::vector<unsigned char>& bytes,
                   std::string* error) {
    fs::path target = fs::u8path(path);
    fs::path folder = target.parent_path().empty() ? fs::path(L".") : target.parent_path();
    std::wstring temporary;
    HANDLE created = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && created == INVALID_HANDLE_VALUE; ++attempt) {
        temporary =
            (folder / (L"." + target.filename().wstring() + L"." + RandomName(6))).wstring();
        created = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_HIDDEN, nullptr);
        if (created == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
    }
    if (created == INVALID_HANDLE_VALUE) {
        *error = "cannot create a file in " + folder.u8string() + ": " + LastError();
        return 0;
    }
    bool ok;
    {
        Handle file(created);
        ok = WriteAll(file.value, bytes, error);
        // The file takes the target's place with its attributes: not hidden there.
        FILE_BASIC_INFO basic{};
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        if (ok && !SetFileInformationByHandle(file.value, FileBasicInfo, &basic, sizeof basic)) {
            *error = "cannot write: " + LastError();
            ok = false;
        }
    }
    if (ok && !MoveOver(temporary, target.wstring())) {
        *error = "cannot rename into place: " + LastError();
        ok = false;
    }
    if (!ok) DeleteFileW(temporary.c_str());
    return ok ? 1 : 0;
}

int MakePrivateFolder(const std::string& path, const std::string& tag, std::string* folder,
                      std::string* error) {
    fs::path target = fs::u8path(path);
    std::error_code code;
    // Absolute, for a command that changes its folder before it uses it.
    fs::path beside = fs::absolute(target, code).parent_path();
    if (code) {
        *error = "cannot create a folder beside " + path + ": " + code.message();
        return 0;
    }
    std::wstring acl = UserOnlyAcl();
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (acl.empty() || !ConvertStringSecurityDescriptorToSecurityDescriptorW(
                           acl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
        *error = "cannot create a folder in " + beside.u8string() +
                 ": the user's own access cannot be set: " + LastError();
        return 0;
    }
    SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), descriptor, FALSE};
    bool made = false;
    std::wstring name;
    for (int attempt = 0; attempt < 100 && !made; ++attempt) {
        name = (beside /
                (L"." + target.filename().wstring() + L"." + Widen(tag) + L"-" + RandomName(12)))
                   .wstring();
        made = CreateDirectoryW(name.c_str(), &security) != 0;
        if (!made && GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    DWORD failure = GetLastError();
    LocalFree(descriptor);
    if (!made) {
        *error = "cannot create a folder in " + beside.u8string() + ": " + SystemMessage(failure);
        return 0;
    }
    *folder = Narrow(name);
    return 1;
}

int PutInPlace(const std::string& from, const std::string& to, std::string* error) {
    std::wstring source = Widen(from);
    {
        Handle file(CreateFileW(source.c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
        if (!file.ok() || !FlushFileBuffers(file.value)) {
            *error = LastError();
            return 0;
        }
    }
    if (!MoveOver(source, Widen(to))) {
        *error = LastError();
        return 0;
    }
    return 1;
}

int CanRead(const std::string& path, std::string* error) {
    Handle file(CreateFileW(Widen(path).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (file.ok()) return 1;
    *error = LastError();
    return 0;
}

std::string ToolPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0) return "";
        if (length < path.size()) {
            path.resize(length);
            return Narrow(path);
        }
        if (path.size() >= 32768) return "";
        path.resize(path.size() * 2);
    }
}

bool OnPath(const std::string& name) { return !FindProgram(name).empty(); }

int GetEnvironment(const std::string& name, std::string* value) {
    std::wstring wide = Widen(name);
    SetLastError(ERROR_SUCCESS);
    DWORD size = GetEnvironmentVariableW(wide.c_str(), nullptr, 0);
    if (size == 0) {
        if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return 0;
        value->clear();
        return 1;
    }
    std::wstring text(size, L'\0');
    DWORD length = GetEnvironmentVariableW(wide.c_str(), &text[0], size);
    text.resize(length < size ? length : 0);
    *value = Narrow(text);
    return 1;
}

namespace {
int g_errorsToConsole = -1;  // unknown until noted
}  // namespace

void NoteErrorsToConsole() {
    DWORD mode;
    g_errorsToConsole = GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

bool ErrorsToTerminal() {
    if (g_errorsToConsole < 0) NoteErrorsToConsole();
    return g_errorsToConsole != 0;
}

std::string LastSystemError() { return LastError(); }
