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

UINT g_consoleCodePage = 0;  // the console's own, given back at the end; 0: left alone

void RestoreConsole() {
    if (g_consoleCodePage) SetConsoleOutputCP(g_consoleCodePage);
}

BOOL WINAPI OnBreak(DWORD) {
    RestoreConsole();
    return FALSE;  // and ends as it would have
}

bool IsConsole(DWORD which) {
    DWORD mode;
    return GetConsoleMode(GetStdHandle(which), &mode) != 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // Bytes as they are, "\n" and all, so that a manifest written to a redirected stdout
    // equals the one tidepack writes on Linux.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    // The console is the user's and outlives tidepack: its code page is given back.
    if (IsConsole(STD_OUTPUT_HANDLE) || IsConsole(STD_ERROR_HANDLE)) {
        g_consoleCodePage = GetConsoleOutputCP();
        if (g_consoleCodePage != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
            std::atexit(RestoreConsole);
            SetConsoleCtrlHandler(OnBreak, TRUE);
        } else {
            g_consoleCodePage = 0;
        }
    }
    std::vector<std::string> args;
    for (int k = 1; k < argc; ++k) args.push_back(Narrow(argv[k]));
    return RunTidepack(args);
}
