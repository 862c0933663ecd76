// SPDX-License-Identifier: MIT
// The run's log: written once, at the end, from the run's record.
#include <windows.h>
#include <shlobj.h>

#include <initializer_list>

#include "base/text.h"
#include "engine/globals.h"
#include "outcome/outcome.h"
#include "package/package.h"
#include "ui/ui_win32.h"

namespace {

// A log that outgrows this is started afresh: a patch run by an agent every day must not fill
// the disk.
constexpr DWORD LOG_SIZE_LIMIT = 1u << 20;

void WriteUtf8(HANDLE file, const wchar_t* text) {
    char bytes[4 * DIALOG_TEXT_SIZE];
    int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
    DWORD written;
    if (length > 1) WriteFile(file, bytes, static_cast<DWORD>(length - 1), &written, nullptr);
}

// A text of the package or the run, in the system's code page.
void WriteAnsi(HANDLE file, const char* text) {
    wchar_t wide[2 * DIALOG_TEXT_SIZE];
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide, 2 * DIALOG_TEXT_SIZE) > 0)
        WriteUtf8(file, wide);
}

// `parts` one after another into `dest` (LOG_PATH_SIZE characters); 0 when they do not fit.
int JoinPath(wchar_t* dest, std::initializer_list<const wchar_t*> parts) {
    std::size_t used = 0;
    for (const wchar_t* part : parts) {
        for (; *part; ++part) {
            if (used + 1 >= LOG_PATH_SIZE) return 0;
            dest[used++] = *part;
        }
    }
    dest[used] = L'\0';
    return 1;
}

// Makes every missing folder of `path` up to its last backslash.
void MakeFoldersOf(const wchar_t* path) {
    wchar_t prefix[LOG_PATH_SIZE];
    for (std::size_t i = 0; path[i] && i + 1 < LOG_PATH_SIZE; ++i) {
        // Not the root's backslash ("C:\", "\\server\share\").
        if ((path[i] == L'\\' || path[i] == L'/') && i > 2) {
            prefix[i] = L'\0';
            CreateDirectoryW(prefix, nullptr);
        }
        prefix[i] = path[i];
    }
}

// The product's name as a folder name: characters Windows refuses in names become "_".
void FolderNameOf(const char* title, wchar_t* name, int capacity) {
    if (MultiByteToWideChar(CP_ACP, 0, title, -1, name, capacity) <= 0 || name[0] == L'\0')
        lstrcpynW(name, L"Tidewell", capacity);
    for (wchar_t* c = name; *c; ++c)
        if (*c < 32 || *c == L'\\' || *c == L'/' || *c == L':' || *c == L'*' || *c == L'?' ||
            *c == L'"' || *c == L'<' || *c == L'>' || *c == L'|')
            *c = L'_';
    // Windows drops a name's trailing dots and blanks: ".." would name the folder above.
    int length = lstrlenW(name);
    while (length > 0 && (name[length - 1] == L'.' || name[length - 1] == L' ')) name[--length] = 0;
    // A device's name (CON, NUL, COM1) would open the device, not a folder: no log at all.
    char ascii[8] = "";
    int plain = length < 8;
    for (int i = 0; plain && i < length; ++i) {
        plain = name[i] < 128;
        ascii[i] = static_cast<char>(name[i]);
    }
    if (plain && IsDeviceName(ascii, ascii + length)) length = 0;
    if (length == 0) lstrcpynW(name, L"Tidewell", capacity);
}

// The default place: elevated, %ProgramData%\<product>\<program>.log, readable by users;
// otherwise the user's temporary folder.
int DefaultLogPath(const char* title, wchar_t* path) {
    wchar_t module[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 0;
    const wchar_t* name = module;
    for (const wchar_t* c = module; *c; ++c)
        if (*c == L'\\') name = c + 1;
    wchar_t base[MAX_PATH];
    lstrcpynW(base, name, MAX_PATH);
    int baseLength = lstrlenW(base);
    if (baseLength > 4 && lstrcmpiW(base + baseLength - 4, L".exe") == 0) base[baseLength - 4] = 0;

    wchar_t folder[MAX_PATH] = L"";
    if (IsElevated()) {
        LPITEMIDLIST items = nullptr;
        if (SHGetSpecialFolderLocation(nullptr, CSIDL_COMMON_APPDATA, &items) != S_OK) return 0;
        BOOL found = SHGetPathFromIDListW(items, folder);
        CoTaskMemFree(items);
        if (!found) return 0;
        wchar_t product[128];
        FolderNameOf(title, product, 128);
        wchar_t productFolder[LOG_PATH_SIZE];
        if (!JoinPath(productFolder, {folder, L"\\", product})) return 0;
        CreateDirectoryW(productFolder, nullptr);
        // Any user may make folders in ProgramData: one made a link beforehand would send this
        // elevated write wherever it points.
        DWORD attributes = GetFileAttributesW(productFolder);
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
            (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            return 0;
        return JoinPath(path, {productFolder, L"\\", base, L".log"});
    }
    DWORD tempLength = GetTempPathW(MAX_PATH, folder);
    if (tempLength == 0 || tempLength >= MAX_PATH) return 0;
    return JoinPath(path, {folder, base, L".log"});
}

// Opens the log for appending; a file grown past the limit is begun again. Only a plain file
// with one name is written: a link put in its place must not turn an elevated write elsewhere.
HANDLE OpenLog(const wchar_t* path) {
    MakeFoldersOf(path);
    HANDLE file =
        CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return file;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info) || info.nNumberOfLinks != 1 ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    DWORD written;
    if (info.nFileSizeHigh != 0 || info.nFileSizeLow > LOG_SIZE_LIMIT) {
        SetFilePointer(file, 0, nullptr, FILE_BEGIN);
        SetEndOfFile(file);
        info.nFileSizeLow = 0;
    }
    // With the byte-order mark, Windows PowerShell 5.1 reads it as UTF-8, not as the ANSI code
    // page, and Japanese paths stay whole.
    if (info.nFileSizeLow == 0) WriteFile(file, "\xEF\xBB\xBF", 3, &written, nullptr);
    SetFilePointer(file, 0, nullptr, FILE_END);
    return file;
}

void WriteHeader(HANDLE file, const char* title, const char* version) {
    wchar_t line[DIALOG_TEXT_SIZE];
    SYSTEMTIME now;
    GetLocalTime(&now);
    wsprintfW(line, L"=== %04u-%02u-%02uT%02u:%02u:%02u update run ===\r\n", now.wYear, now.wMonth,
              now.wDay, now.wHour, now.wMinute, now.wSecond);
    WriteUtf8(file, line);
    wchar_t module[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    WriteUtf8(file, L"program: ");
    WriteUtf8(file, module);
    WriteUtf8(file, L"\r\npackage: ");
    WriteAnsi(file, title);
    WriteUtf8(file, L" ");
    WriteAnsi(file, version);
    WriteUtf8(file, L"\r\ncommand line: ");
    WriteUtf8(file, GetCommandLineW());
    OSVERSIONINFOA os = {};
    os.dwOSVersionInfoSize = sizeof os;
    GetVersionExA(&os);
    wchar_t user[256] = L"";
    DWORD userLength = 256;
    GetUserNameW(user, &userLength);
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    // At most some 330 characters: the user name has 256 at most.
    wsprintfW(line, L"\r\nwindows: %lu.%lu build %lu\r\nelevated: %s\r\nuser: %s, session %lu\r\n",
              os.dwMajorVersion, os.dwMinorVersion, os.dwBuildNumber, IsElevated() ? L"yes" : L"no",
              user, session);
    WriteUtf8(file, line);
}

}  // namespace

int IsElevated() {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0,
                                  0, 0, 0, 0, 0, &administrators))
        return 0;
    // Under UAC an administrator's filtered token holds the group for denying only: not a member.
    BOOL member = FALSE;
    if (!CheckTokenMembership(nullptr, administrators, &member)) member = FALSE;
    FreeSid(administrators);
    return member != FALSE;
}

void WriteRunLog(const wchar_t* logPath, const RunRecord* record, RunEnd end) {
    char title[64] = "";
    char version[16] = "";
    HMODULE module = static_cast<HMODULE>(g_instance);
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(PACKAGE_RESOURCE_ID),
                                MAKEINTRESOURCEA(PACKAGE_RESOURCE_TYPE));
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (bytes) {
        PackageImage image = {static_cast<const unsigned char*>(bytes),
                              static_cast<std::uint32_t>(SizeofResource(module, found))};
        const PackageHeader* header;
        if (GetPackageHeader(image, &header)) {
            const char* text = PackageText(image, header->title);
            if (text) TextCopy(title, sizeof title, text);
            text = PackageText(image, header->versionText);
            if (text) TextCopy(version, sizeof version, text);
        }
    }
    if (loaded) FreeResource(loaded);

    wchar_t path[LOG_PATH_SIZE];
    if (logPath && logPath[0])
        lstrcpynW(path, logPath, LOG_PATH_SIZE);
    else if (!DefaultLogPath(title, path))
        return;
    HANDLE file = OpenLog(path);
    if (file == INVALID_HANDLE_VALUE) return;
    WriteHeader(file, title, version);
    char line[ITEM_PATH_SIZE * 2 + 128];
    if (!record) WriteAnsi(file, "the run was still ending: its items are not listed\r\n");
    for (int i = 0; record && i < record->itemCount; ++i) {
        FormatItemLine(RecordedItem(record, i), line, sizeof line);
        WriteAnsi(file, line);
        WriteUtf8(file, L"\r\n");
    }
    if (record && record->withoutTempFile) {
        TextFormat(line, sizeof line,
                   "%d files applied without a temporary copy in the temporary folder\r\n",
                   record->withoutTempFile);
        WriteAnsi(file, line);
    }
    if (record && record->lostItems) {
        TextFormat(line, sizeof line, "%d items not recorded: out of memory\r\n",
                   record->lostItems);
        WriteAnsi(file, line);
    }
    TextFormat(line, sizeof line, "result: %d %s\r\n", ExitCodeOf(end), RunEndName(end));
    WriteAnsi(file, line);
    CloseHandle(file);
}
