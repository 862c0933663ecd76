// SPDX-License-Identifier: MIT
// Starts one program, measures it from outside and prints one line of key=value figures:
// wall times from QueryPerformanceCounter, and the process's memory as the system reports it
// for another process (GetProcessMemoryInfo; under Wine PeakWorkingSetSize is the kernel's
// high-water mark of the process's resident set, PagefileUsage its private memory now, so the
// runner samples it every few milliseconds and keeps the largest value).
//
//   bench_run exec SECONDS [--watch FILE] EXE [ARGS...]
//       run to the end; with --watch, apply_ms runs from FILE's first appearance to the end
//   bench_run window SECONDS EXE [ARGS...]    until its first window shows, then close it
//   bench_run update SECONDS EXE              the update program, driven through its dialog:
//                                             press Update, wait for Finish, press Finish
//
// Exit code 0 when the program did what was asked within SECONDS, 1 otherwise.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int IDC_UPDATE = 1000;
constexpr DWORD TICK_MS = 3;
// The wineserver reads /proc for each sample; the peak is a high-water mark, so a sample now
// and then loses nothing as long as one falls between the peak and the exit.
constexpr int TICKS_PER_SAMPLE = 3;

struct Memory {
    SIZE_T peakWorkingSet = 0;
    SIZE_T peakPrivate = 0;
    int samples = 0;
};

void Sample(HANDLE process, Memory* memory) {
    PROCESS_MEMORY_COUNTERS counters;
    std::memset(&counters, 0, sizeof counters);
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(process, &counters, sizeof counters)) return;
    if (counters.PeakWorkingSetSize > memory->peakWorkingSet)
        memory->peakWorkingSet = counters.PeakWorkingSetSize;
    if (counters.WorkingSetSize > memory->peakWorkingSet)
        memory->peakWorkingSet = counters.WorkingSetSize;
    if (counters.PagefileUsage > memory->peakPrivate) memory->peakPrivate = counters.PagefileUsage;
    ++memory->samples;
}

double Now() {
    static LARGE_INTEGER frequency;
    if (!frequency.QuadPart) QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Arguments are quoted only when they hold a space: NSIS reads "/D=" only unquoted.
std::string CommandLine(int argc, char** argv) {
    std::string line;
    for (int i = 0; i < argc; ++i) {
        if (i) line += ' ';
        bool quote = i == 0 || std::strchr(argv[i], ' ');
        if (quote) line += '"';
        line += argv[i];
        if (quote) line += '"';
    }
    return line;
}

struct Search {
    DWORD processId;
    bool needUpdateButton;
    HWND found;
};

BOOL CALLBACK FindWindowOf(HWND window, LPARAM parameter) {
    Search* search = reinterpret_cast<Search*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || !IsWindowVisible(window)) return TRUE;
    if (search->needUpdateButton && !GetDlgItem(window, IDC_UPDATE)) return TRUE;
    search->found = window;
    return FALSE;
}

HWND VisibleWindowOf(DWORD processId, bool needUpdateButton) {
    Search search{processId, needUpdateButton, nullptr};
    EnumWindows(FindWindowOf, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool ButtonText(HWND button, char* text, int capacity) {
    DWORD_PTR result = 0;
    text[0] = 0;
    return SendMessageTimeoutA(button, WM_GETTEXT, capacity, reinterpret_cast<LPARAM>(text),
                               SMTO_ABORTIFHUNG, 2000, &result) != 0;
}

void Press(HWND dialog, HWND button) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_UPDATE, BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: bench_run exec|window|update SECONDS EXE [ARGS...]\n");
        return 2;
    }
    const std::string mode = argv[1];
    const double limit = 1000.0 * std::atof(argv[2]);
    int first = 3;
    const char* watch = nullptr;
    if (mode == "exec" && argc > 5 && std::strcmp(argv[3], "--watch") == 0) {
        watch = argv[4];
        first = 5;
    }
    if (mode != "exec" && mode != "window" && mode != "update") return 2;
    std::string line = CommandLine(argc - first, argv + first);
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    Memory memory;
    const double start = Now();
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info)) {
        std::fprintf(stderr, "bench_run: cannot start %s (%lu)\n", argv[first], GetLastError());
        return 1;
    }
    // Stages of the update mode: 0 waiting for the dialog, 1 applying, 2 finished.
    int stage = 0;
    double shown = -1, pressed = -1, finished = -1, appeared = -1;
    HWND dialog = nullptr, button = nullptr;
    char before[260] = "", text[260];
    bool ended = false, timedOut = false;
    for (int tick = 0; !ended; ++tick) {
        if (tick % TICKS_PER_SAMPLE == 0) Sample(info.hProcess, &memory);
        ended = WaitForSingleObject(info.hProcess, TICK_MS) == WAIT_OBJECT_0;
        if (ended) break;
        if (watch && appeared < 0 && GetFileAttributesA(watch) != INVALID_FILE_ATTRIBUTES)
            appeared = Now() - start;
        if (Now() - start > limit) {
            timedOut = true;
            TerminateProcess(info.hProcess, 3);
            WaitForSingleObject(info.hProcess, 5000);
            break;
        }
        if (mode == "window" && shown < 0) {
            HWND window = VisibleWindowOf(info.dwProcessId, false);
            if (window) {
                shown = Now() - start;
                PostMessageA(window, WM_CLOSE, 0, 0);
                if (WaitForSingleObject(info.hProcess, 5000) != WAIT_OBJECT_0)
                    TerminateProcess(info.hProcess, 0);
            }
        } else if (mode == "update" && stage == 0) {
            dialog = VisibleWindowOf(info.dwProcessId, true);
            if (dialog) {
                shown = Now() - start;
                button = GetDlgItem(dialog, IDC_UPDATE);
                ButtonText(button, before, sizeof before);
                pressed = Now();
                Press(dialog, button);
                stage = 1;
            }
        } else if (mode == "update" && stage == 1) {
            // The completion sets the Finish text and then enables the button. The button's
            // state is asked of the server alone; its text needs the program's main thread,
            // so it is asked for only once the button is enabled.
            if (IsWindowEnabled(button) && ButtonText(button, text, sizeof text) &&
                std::strcmp(text, before) != 0) {
                finished = Now();
                Press(dialog, button);
                stage = 2;
            }
        }
    }
    const double total = Now() - start;
    DWORD exitCode = 0;
    GetExitCodeProcess(info.hProcess, &exitCode);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);

    bool done = !timedOut && ((mode == "exec" && (!watch || appeared >= 0)) ||
                              (mode == "window" && shown >= 0) || (mode == "update" && stage == 2));
    std::printf("ok=%d total_ms=%.1f", done ? 1 : 0, total);
    if (watch) std::printf(" appeared_ms=%.1f apply_ms=%.1f", appeared, total - appeared);
    if (mode != "exec") std::printf(" shown_ms=%.1f", shown);
    if (mode == "update")
        std::printf(" apply_ms=%.1f finish_text=\"%s\"", finished - pressed, text);
    std::printf(" peak_ws=%llu peak_private=%llu samples=%d exit=%lu\n",
                static_cast<unsigned long long>(memory.peakWorkingSet),
                static_cast<unsigned long long>(memory.peakPrivate), memory.samples, exitCode);
    return done ? 0 : 1;
}
