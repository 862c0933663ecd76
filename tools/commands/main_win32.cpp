// SPDX-License-Identifier: MIT
// tidepack's entry on Windows: the arguments arrive as UTF-16 and go on as UTF-8, whatever the
// system's code page; what tidepack prints is UTF-8 bytes, shown as such on a console.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>

#include "commands/tidepack.h"
#include "system/win32.h"

namespace {

// A console shows UTF-16 text, while tidepack writes UTF-8, often a byte at a time (MinGW's
// printf), which a console in code page 65001 shows as U+FFFD per byte. So a console's
// streams write into a pipe instead, whose reader gives the console whole characters, in
// the order they were written.
struct ConsoleBridge {
    HANDLE console = nullptr;
    HANDLE reader = nullptr;
    HANDLE thread = nullptr;
};

ConsoleBridge g_bridge;

DWORD WINAPI ShowOnConsole(void*) {
    std::string pending;
    char piece[4096];
    DWORD got = 0;
    while (ReadFile(g_bridge.reader, piece, sizeof piece, &got, nullptr) && got > 0) {
        pending.append(piece, got);
        // Up to the last whole character; a character cut off waits for its other bytes.
        std::size_t whole = pending.size();
        for (std::size_t back = 1; back <= 3 && back <= pending.size(); ++back) {
            unsigned char c = static_cast<unsigned char>(pending[pending.size() - back]);
            if ((c & 0xC0) == 0x80) continue;
            std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            if (length > back) whole = pending.size() - back;
            break;
        }
        std::wstring text = Widen(pending.substr(0, whole));
        pending.erase(0, whole);
        DWORD written;
        if (!text.empty())
            WriteConsoleW(g_bridge.console, text.data(), static_cast<DWORD>(text.size()), &written,
                          nullptr);
    }
    return 0;
}

// Whatever is still in the pipe reaches the console before tidepack ends.
void CloseBridge() {
    std::fflush(stdout);
    std::fflush(stderr);
    _close(_fileno(stdout));
    _close(_fileno(stderr));
    WaitForSingleObject(g_bridge.thread, 5000);
}

bool IsConsole(HANDLE handle) {
    DWORD mode;
    return GetConsoleMode(handle, &mode) != 0;
}

void OpenBridge() {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE), err = GetStdHandle(STD_ERROR_HANDLE);
    bool outConsole = IsConsole(out), errConsole = IsConsole(err);
    if (!outConsole && !errConsole) return;
    HANDLE writer = nullptr;
    if (!CreatePipe(&g_bridge.reader, &writer, nullptr, 0)) return;
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(writer), _O_BINARY | _O_NOINHERIT);
    if (fd < 0) {
        CloseHandle(writer);
        return;
    }
    // Its own handle: the stream's goes with the stream.
    if (!DuplicateHandle(GetCurrentProcess(), outConsole ? out : err, GetCurrentProcess(),
                         &g_bridge.console, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        _close(fd);
        return;
    }
    g_bridge.thread = CreateThread(nullptr, 0, ShowOnConsole, nullptr, 0, nullptr);
    if (!g_bridge.thread) {
        _close(fd);
        return;
    }
    for (std::FILE* stream : {stdout, stderr}) {
        if (!IsConsole(stream == stdout ? out : err)) continue;
        _dup2(fd, _fileno(stream));
        // The programs tidepack runs must not hold the pipe open after it ends.
        SetHandleInformation(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))),
                             HANDLE_FLAG_INHERIT, 0);
    }
    _close(fd);
    std::atexit(CloseBridge);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // Bytes as they are, "\n" and all, so that a manifest written to a redirected stdout
    // equals the one tidepack writes on Linux.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    NoteErrorsToConsole();
    OpenBridge();
    std::vector<std::string> args;
    for (int k = 1; k < argc; ++k) args.push_back(Narrow(argv[k]));
    return RunTidepack(args);
}
