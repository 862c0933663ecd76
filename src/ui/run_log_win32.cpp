// SPDX-License-Identifier: MIT
// The run's log, written as the run goes from its record: the header when the run starts, each
// item's line once it has ended, the result line last. A run killed part-way leaves every line
// up to its last step.
#include <windows.h>

#include "base/sha256.h"
#include "base/text.h"
#include "engine/engine_seam.h"
#include "engine/globals.h"
#include "outcome/outcome.h"
#include "package/package.h"
#include "ui/log_place.h"
#include "ui/ui_win32.h"

namespace {

// The open log, or null; taken under g_logLock, since the worker writes items while the
// dialog's thread may end the log when the worker does not end in time.
HANDLE g_log = nullptr;
CRITICAL_SECTION g_logLock;

// Lines wait here so that those ended together go in one write; each batch goes to the file at
// once, so nothing is left in the process for a kill to lose.
struct LogBuffer {
    char bytes[8192];
    DWORD used;
};

void Flush(LogBuffer* buffer) {
    DWORD written;
    if (g_log && buffer->used) WriteFile(g_log, buffer->bytes, buffer->used, &written, nullptr);
    buffer->used = 0;
}

void PutUtf8(LogBuffer* buffer, const wchar_t* text) {
    char bytes[4 * DIALOG_TEXT_SIZE];
    int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
    if (length <= 1) return;
    DWORD size = static_cast<DWORD>(length - 1);
    if (buffer->used + size > sizeof buffer->bytes) Flush(buffer);
    if (size > sizeof buffer->bytes) {
        DWORD written;
        WriteFile(g_log, bytes, size, &written, nullptr);
        return;
    }
    CopyMemory(buffer->bytes + buffer->used, bytes, size);
    buffer->used += size;
}

// A text of the package or the run, in the system's code page.
void PutAnsi(LogBuffer* buffer, const char* text) {
    wchar_t wide[2 * DIALOG_TEXT_SIZE];
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide, 2 * DIALOG_TEXT_SIZE) > 0)
        PutUtf8(buffer, wide);
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

// The program's name without its folder and ".exe".
void ProgramNameOf(const wchar_t* module, wchar_t* base) {
    const wchar_t* name = module;
    for (const wchar_t* c = module; *c; ++c)
        if (*c == L'\\') name = c + 1;
    lstrcpynW(base, name, MAX_PATH);
    int length = lstrlenW(base);
    if (length > 4 && lstrcmpiW(base + length - 4, L".exe") == 0) base[length - 4] = 0;
    if (base[0] == L'\0') lstrcpynW(base, L"Tidewell", MAX_PATH);
}

// What the header says of the package: its title and version, and its fingerprint.
struct PackageFacts {
    char title[64];
    char version[16];
    char sha256[2 * SHA256_SIZE + 1];
    DWORD size;
};

void ReadPackageFacts(PackageFacts* facts) {
    facts->title[0] = facts->version[0] = facts->sha256[0] = '\0';
    facts->size = 0;
    PackageImage image;
    if (CarriedPackage(&image)) {
        facts->size = image.size;
        const PackageHeader* header;
        if (GetPackageHeader(image, &header)) {
            const char* text = PackageText(image, header->title);
            if (text) TextCopy(facts->title, sizeof facts->title, text);
            text = PackageText(image, header->versionText);
            if (text) TextCopy(facts->version, sizeof facts->version, text);
        }
        // Which patch ran, for a support desk, whatever its version text says.
        unsigned char digest[SHA256_SIZE];
        Sha256(image.data, facts->size, digest);
        Sha256Text(digest, facts->sha256);
    }
}

// The file version of the program's own version block ("" without one).
void ReadFileVersion(wchar_t* text) {
    text[0] = L'\0';
    HMODULE module = static_cast<HMODULE>(g_instance);
    // The block (RT_VERSION, 16) may exist in one language only.
    HRSRC found = FindResourceExW(module, MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1),
                                  MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT));
    if (!found) found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const BYTE* bytes = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    DWORD size = found ? SizeofResource(module, found) : 0;
    for (DWORD at = 0; bytes && at + sizeof(VS_FIXEDFILEINFO) <= size; at += 4) {
        VS_FIXEDFILEINFO info;
        CopyMemory(&info, bytes + at, sizeof info);
        if (info.dwSignature != 0xFEEF04BD) continue;
        wsprintfW(text, L"%u.%u.%u.%u", HIWORD(info.dwFileVersionMS), LOWORD(info.dwFileVersionMS),
                  HIWORD(info.dwFileVersionLS), LOWORD(info.dwFileVersionLS));
        break;
    }
}

// The Windows version as Windows itself has it: GetVersionEx answers by the manifest, which
// lists no Windows after 8 (6.2 build 9200 on 10 and 11).
OSVERSIONINFOW RealWindowsVersion() {
    OSVERSIONINFOW os = {};
    os.dwOSVersionInfoSize = sizeof os;
    using GetVersionProc = LONG(WINAPI*)(OSVERSIONINFOW*);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    auto getVersion = reinterpret_cast<GetVersionProc>(
        reinterpret_cast<void*>(ntdll ? GetProcAddress(ntdll, "RtlGetVersion") : nullptr));
    if (!getVersion || getVersion(&os) != 0) GetVersionExW(&os);
    return os;
}

void PutHeader(LogBuffer* buffer, const LogOpened& opened) {
    wchar_t line[DIALOG_TEXT_SIZE];
    SYSTEMTIME now;
    GetLocalTime(&now);
    wsprintfW(line, L"=== %04u-%02u-%02uT%02u:%02u:%02u update run ===\r\n", now.wYear, now.wMonth,
              now.wDay, now.wHour, now.wMinute, now.wSecond);
    PutUtf8(buffer, line);
    PutUtf8(buffer, opened.note);
    wchar_t module[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    wchar_t fileVersion[64];
    ReadFileVersion(fileVersion);
    PutUtf8(buffer, L"program: ");
    PutUtf8(buffer, module);
    if (fileVersion[0]) {
        PutUtf8(buffer, L" (file version ");
        PutUtf8(buffer, fileVersion);
        PutUtf8(buffer, L")");
    }
    PackageFacts facts;
    ReadPackageFacts(&facts);
    PutUtf8(buffer, L"\r\npackage: ");
    PutAnsi(buffer, facts.title);
    PutUtf8(buffer, L" ");
    PutAnsi(buffer, facts.version);
    if (facts.sha256[0]) {
        char fingerprint[128];
        TextFormat(fingerprint, sizeof fingerprint, " (%lu bytes, SHA-256 %s)",
                   static_cast<unsigned long>(facts.size), facts.sha256);
        PutAnsi(buffer, fingerprint);
    }
    PutUtf8(buffer, L"\r\ncommand line: ");
    PutUtf8(buffer, GetCommandLineW());
    OSVERSIONINFOW os = RealWindowsVersion();
    wchar_t user[256] = L"";
    DWORD userLength = 256;
    GetUserNameW(user, &userLength);
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    // At most some 330 characters: the user name has 256 at most.
    wsprintfW(line, L"\r\nwindows: %lu.%lu build %lu\r\nelevated: %s\r\nuser: %s, session %lu\r\n",
              os.dwMajorVersion, os.dwMinorVersion, os.dwBuildNumber, IsElevated() ? L"yes" : L"no",
              user, session);
    PutUtf8(buffer, line);
}

// The record's hook: every item that has ended and is not yet in the log, in record order.
void PutEndedItems(LogBuffer* buffer, RunRecord* record) {
    char line[ITEM_PATH_SIZE * 2 + 160];
    while (const RunItem* item = NextEndedItem(record)) {
        FormatItemLine(item, line, sizeof line);
        PutAnsi(buffer, line);
        PutUtf8(buffer, L"\r\n");
    }
}

void WriteEndedItems(void*, RunRecord* record) {
    EnterCriticalSection(&g_logLock);
    LogBuffer buffer;
    buffer.used = 0;
    if (g_log) PutEndedItems(&buffer, record);
    Flush(&buffer);
    LeaveCriticalSection(&g_logLock);
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

void BeginRunLog(const CommandLine& command, RunRecord* record) {
    InitializeCriticalSection(&g_logLock);
    wchar_t module[MAX_PATH] = L"";
    DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) module[0] = L'\0';
    wchar_t program[MAX_PATH];
    ProgramNameOf(module, program);
    PackageFacts facts;
    ReadPackageFacts(&facts);
    wchar_t product[128];
    FolderNameOf(facts.title, product, 128);

    LogRequest request = {command.logPath, command.mode == UI_FULL, product, program};
    LogOpened opened;
    if (!OpenRunLog(request, &opened)) return;
    g_log = static_cast<HANDLE>(opened.file);
    LogBuffer buffer;
    buffer.used = 0;
    // With the byte-order mark, Windows PowerShell 5.1 reads it as UTF-8, not as the ANSI code
    // page, and Japanese paths stay whole.
    if (opened.fresh) {
        CopyMemory(buffer.bytes, "\xEF\xBB\xBF", 3);
        buffer.used = 3;
    }
    PutHeader(&buffer, opened);
    Flush(&buffer);
    record->hook = WriteEndedItems;
    record->hookContext = nullptr;
}

void EndRunLog(RunRecord* record, RunEnd end, int settled) {
    if (!g_log) return;
    EnterCriticalSection(&g_logLock);
    LogBuffer buffer;
    buffer.used = 0;
    char line[ITEM_PATH_SIZE + 128];
    if (settled) {
        PutEndedItems(&buffer, record);
        // Items that never ended (a replace the pool did not finish) are listed all the same.
        while (record->logged < record->itemCount) {
            FormatItemLine(RecordedItem(record, record->logged++), line, sizeof line);
            PutAnsi(&buffer, line);
            PutUtf8(&buffer, L"\r\n");
        }
        if (record->withoutTempFile) {
            TextFormat(line, sizeof line,
                       "%d files applied without a temporary copy in the temporary folder\r\n",
                       record->withoutTempFile);
            PutAnsi(&buffer, line);
        }
        if (record->lostItems) {
            TextFormat(line, sizeof line, "%d items not recorded: out of memory\r\n",
                       record->lostItems);
            PutAnsi(&buffer, line);
        }
    } else {
        PutAnsi(&buffer, "the run was still ending: its later items are not listed\r\n");
    }
    TextFormat(line, sizeof line, "result: %d %s\r\n", ExitCodeOf(end), RunEndName(end));
    PutAnsi(&buffer, line);
    Flush(&buffer);
    CloseHandle(g_log);
    g_log = nullptr;
    LeaveCriticalSection(&g_logLock);
}
