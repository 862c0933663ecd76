// SPDX-License-Identifier: MIT
// The program's switches, for unattended deployment. With none it runs as designed.
#pragma once

#include <cstddef>

enum UiMode {
    UI_FULL,     // the dialog, waiting for Update
    UI_PASSIVE,  // the dialog runs at once, cannot be cancelled, closes itself, asks nothing
    UI_QUIET,    // no window at all
};

// Room for the log's path, in characters with the terminator.
constexpr std::size_t LOG_PATH_SIZE = 520;

struct CommandLine {
    int valid;      // 0: a switch not known, or /log without a file: exit 1639, nothing done
    int usage;      // /? was given
    UiMode mode;    // the quietest asked for
    int noRestart;  // accepted; the program never restarts Windows itself
    wchar_t logPath[LOG_PATH_SIZE];  // empty when /log was not given
    wchar_t badSwitch[64];           // the first argument that made it not valid (cut), or empty
};

// Reads the whole command line as Windows gives it (GetCommandLineW): the program's name first,
// then the switches, each with "/" or "-", any case: /quiet /q /qn /S, /passive /qb, /norestart,
// /log FILE, /log=FILE, /l*v FILE, /?. A word in double quotes is one argument. Returns
// `parsed->valid`.
int ParseCommandLine(const wchar_t* line, CommandLine* parsed);
