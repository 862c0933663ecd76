// SPDX-License-Identifier: MIT
// Running programs on Windows: CreateProcessW in a job object of its own.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cwctype>
#include <filesystem>

#include "system/process.h"
#include "system/win32.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

struct Handle {
    HANDLE value = nullptr;
    Handle() = default;
    explicit Handle(HANDLE handle) : value(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { Reset(); }
    void Reset(HANDLE handle = nullptr) {
        if (value) CloseHandle(value);
        value = handle;
    }
};

// One argument as the C runtime's argv rules read it back: in quotes when it holds a space,
// tab or quote, a quote as \", and backslashes doubled only before a quote.
std::wstring Quoted(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return argument;
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

bool IsCmd(const std::wstring& program) {
    std::wstring name = fs::path(program).filename().wstring();
    for (wchar_t& c : name) c = static_cast<wchar_t>(std::towlower(c));
    return name == L"cmd.exe";
}

// The command line for `arguments`, whose program is `program`. cmd.exe does not read its
// line by the argv rules: what follows /c is one command, run as written (/s drops the outer
// quotes put around it here).
std::wstring CommandLine(const std::wstring& program, const std::vector<std::string>& arguments) {
    std::wstring line = L"\"" + program + L"\"";
    bool cmd = IsCmd(program);
    for (std::size_t k = 1; k < arguments.size(); ++k) {
        if (cmd && (arguments[k] == "/c" || arguments[k] == "/C")) {
            std::wstring rest;
            for (std::size_t m = k + 1; m < arguments.size(); ++m)
                rest += (m > k + 1 ? L" " : L"") + Widen(arguments[m]);
            return line + L" " + Widen(arguments[k]) + L" \"" + rest + L"\"";
        }
        line += L" " + Quoted(Widen(arguments[k]));
    }
    return line;
}

// This process's environment without `hidden` (names compare without case, as Windows'),
// as CreateProcessW takes it.
std::wstring EnvironmentWithout(const std::string& hidden) {
    std::wstring block;
    std::wstring name = Widen(hidden) + L"=";
    wchar_t* strings = GetEnvironmentStringsW();
    for (const wchar_t* variable = strings; variable && *variable;) {
        std::wstring one = variable;
        variable += one.size() + 1;
        if (!hidden.empty() && one.size() >= name.size() &&
            CompareStringOrdinal(one.c_str(), static_cast<int>(name.size()), name.c_str(),
                                 static_cast<int>(name.size()), TRUE) == CSTR_EQUAL)
            continue;
        block += one;
        block += L'\0';
    }
    if (strings) FreeEnvironmentStringsW(strings);
    if (block.empty()) block += L'\0';
    return block + L'\0';
}

// An inheritable handle the child reads as its stdin: a pipe holding `input` whole, tidepack's
// own stdin (its console, where a PIN is asked), or NUL.
HANDLE InputFor(const Command& command) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    if (command.hasInput) {
        HANDLE read = nullptr, write = nullptr;
        // Sized for `text`, so that this cannot block.
        if (!CreatePipe(&read, &write, &inherit, static_cast<DWORD>(command.input.size() + 4096)))
            return nullptr;
        DWORD written = 0;
        bool ok = WriteFile(write, command.input.data(), static_cast<DWORD>(command.input.size()),
                            &written, nullptr) &&
                  written == command.input.size();
        DWORD saved = GetLastError();
        CloseHandle(write);
        SetHandleInformation(read, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
        if (!ok) {
            CloseHandle(read);
            SetLastError(saved);
            return nullptr;
        }
        return read;
    }
    HANDLE own = GetStdHandle(STD_INPUT_HANDLE);
    HANDLE copy = nullptr;
    if (command.terminal && own && own != INVALID_HANDLE_VALUE &&
        DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &copy, 0, TRUE,
                        DUPLICATE_SAME_ACCESS))
        return copy;
    HANDLE null = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                              OPEN_EXISTING, 0, nullptr);
    return null == INVALID_HANDLE_VALUE ? nullptr : null;
}

// A job that ends everything in it when told or when its last handle closes.
HANDLE KillingJob() {
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job &&
        !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        CloseHandle(job);
        return nullptr;
    }
    return job;
}

// Console programs write to a pipe in the console's code page (the OEM one without a
// console): their text becomes UTF-8, as everything tidepack prints is. A lead byte at the end
// of `bytes` waits in `carry` for its trail byte from the next piece.
std::string ConsoleTextToUtf8(UINT codePage, std::string* carry, const char* bytes,
                              std::size_t size) {
    std::string text = *carry + std::string(bytes, size);
    carry->clear();
    if (codePage == CP_UTF8 || text.empty()) return text;
    std::size_t whole = 0;
    for (std::size_t k = 0; k < text.size(); ++k) {
        if (IsDBCSLeadByteEx(codePage, static_cast<BYTE>(text[k]))) {
            if (k + 1 == text.size()) break;
            ++k;
        }
        whole = k + 1;
    }
    *carry = text.substr(whole);
    text.resize(whole);
    int length =
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) return text;
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return Narrow(wide);
}

}  // namespace

// Runs `command.arguments` without a shell in a job object, which is ended whole when it runs
// out of time. Like the POSIX side, what it leaves running after a normal exit is left alone.
RunResult Run(const Command& command) {
    RunResult result;
    std::wstring program = FindProgram(command.arguments.empty() ? "" : command.arguments[0]);
    if (program.empty()) {
        result.notFound = true;
        result.startError = SystemMessage(ERROR_FILE_NOT_FOUND);
        return result;
    }
    std::wstring line = CommandLine(program, command.arguments);
    std::wstring environment = EnvironmentWithout(command.hidden);

    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE outRead = nullptr, outWrite = nullptr;
    Handle input(InputFor(command));
    if (!input.value || !CreatePipe(&outRead, &outWrite, &inherit, 0)) {
        result.startError = SystemMessage(GetLastError());
        return result;
    }
    Handle output(outRead), childOutput(outWrite);
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.value;
    startup.hStdOutput = outWrite;
    startup.hStdError = outWrite;
    PROCESS_INFORMATION process{};
    Handle job(KillingJob());
    if (!CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, TRUE,
                        CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT, &environment[0], nullptr,
                        &startup, &process)) {
        DWORD code = GetLastError();
        result.notFound = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
        result.startError = SystemMessage(code);
        return result;
    }
    Handle child(process.hProcess), thread(process.hThread);
    // Where tidepack itself runs in a job that allows none inside (before Windows 8), the
    // program runs without one, and a timeout ends the program alone.
    if (job.value && !AssignProcessToJobObject(job.value, child.value)) job.Reset();
    ResumeThread(thread.value);
    childOutput.Reset();
    input.Reset();

    auto deadline = Clock::now() + std::chrono::seconds(command.timeoutSeconds);
    UINT codePage = GetConsoleOutputCP();
    if (codePage == 0) codePage = GetOEMCP();
    std::string carry;
    char piece[4096];
    bool open = true;
    // Takes what is in the pipe now, at most `rounds` pieces; `open` ends once it is closed.
    auto drain = [&](int rounds) {
        for (int k = 0; k < rounds && open; ++k) {
            DWORD available = 0, got = 0;
            if (!PeekNamedPipe(output.value, nullptr, 0, nullptr, &available, nullptr)) {
                open = false;
            } else if (available == 0) {
                return;
            } else if (ReadFile(output.value, piece, std::min<DWORD>(available, sizeof piece), &got,
                                nullptr) &&
                       got > 0) {
                std::string text = ConsoleTextToUtf8(codePage, &carry, piece, got);
                if (command.echo) {
                    std::fwrite(text.data(), 1, text.size(), command.echo);
                    std::fflush(command.echo);
                }
                result.output += text;
                if (result.output.size() > (2u << 20))
                    result.output.erase(0, result.output.size() - (1u << 20));
            } else {
                open = false;
            }
        }
    };
    bool exited = false;
    while (!exited) {
        drain(64);
        exited = WaitForSingleObject(child.value, open ? 50 : 100) == WAIT_OBJECT_0;
        if (!exited && Clock::now() >= deadline) {
            result.timedOut = true;
            if (job.value)
                TerminateJobObject(job.value, 1);
            else
                TerminateProcess(child.value, 1);
            WaitForSingleObject(child.value, 10000);
            exited = true;
        }
    }
    // What it printed last, without waiting for what it left running in the background.
    drain(256);
    DWORD status = 0;
    if (!result.timedOut && GetExitCodeProcess(child.value, &status))
        result.status = static_cast<int>(status);
    if (job.value && !result.timedOut) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION keep{};
        SetInformationJobObject(job.value, JobObjectExtendedLimitInformation, &keep, sizeof keep);
    }
    return result;
}

std::vector<std::string> ShellArguments(const std::string& line, const std::string& path) {
    wchar_t folder[MAX_PATH];
    UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    std::string cmd = (length > 0 && length < MAX_PATH ? Narrow(std::wstring(folder, length))
                                                       : std::string("C:\\Windows\\System32")) +
                      "\\cmd.exe";
    return {cmd, "/d", "/s", "/c", ShellLine(Shell::Cmd, line, path)};
}
