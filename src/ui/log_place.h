// SPDX-License-Identifier: MIT
// Where the run's log goes, and opening it so that nobody can turn the elevated run's write
// elsewhere: the place asked for (/log, its variables expanded) or the default one, folders
// made with the run's own permissions, a folder made by someone else not used, the opened file
// checked to be the one meant, and a log past its limit moved aside to ".old", never cut.
#pragma once

#include <cstddef>

#include "ui/command_line.h"

// A log that outgrows this is begun afresh (the one before kept as ".old"): a patch that an
// agent runs every day must not fill the disk.
constexpr unsigned long long LOG_SIZE_LIMIT = 1ull << 20;

// Room for what the log says of its own place: where it was asked for and why it is elsewhere.
constexpr std::size_t LOG_NOTE_SIZE = 2 * LOG_PATH_SIZE + 128;

struct LogRequest {
    const wchar_t* asked;    // the /log path as given; null or empty when none
    int dialog;              // a run with the dialog: by default the user's temporary folder
    const wchar_t* product;  // the default folder's name beneath ProgramData (a name Windows takes)
    const wchar_t* program;  // the program's name without ".exe"
};

struct LogOpened {
    void* file;                   // null: no log could be opened anywhere
    wchar_t path[LOG_PATH_SIZE];  // where it is
    int fresh;                    // 1 when the file is new (it needs its byte-order mark)
    wchar_t note[LOG_NOTE_SIZE];  // lines the log begins with about its place; may be empty
};

// Opens the log for appending, by the request, and fills `opened`. 1 when a log is open.
int OpenRunLog(const LogRequest& request, LogOpened* opened);
