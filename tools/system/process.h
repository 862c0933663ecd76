// SPDX-License-Identifier: MIT
// Running another program (osslsigncode, the vendor's signing command), as each platform does
// it (process_posix.cpp, process_win32.cpp).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

struct Command {
    std::vector<std::string> arguments;  // UTF-8; the first names the program, found on PATH
    bool hasInput = false;  // its stdin reads `input`, else tidepack's own when `terminal`, else
    std::string input;      // nothing
    bool terminal = false;  // may ask on tidepack's terminal or console, for a PIN
    std::string hidden;     // an environment variable it does not get
    unsigned timeoutSeconds = 300;
    std::FILE* echo = nullptr;  // its output passes through here as it comes
};

struct RunResult {
    int status = -1;  // the exit status; -1 when it did not exit by itself
    int signal = 0;   // the signal that ended it (POSIX)
    bool timedOut = false;
    bool notFound = false;   // the program does not exist
    std::string startError;  // why it could not start; empty when it started
    std::string output;      // stdout and stderr as one, its last MiB
};

// Runs `command` without a shell, with everything it starts, so that all of it is stopped when
// it runs out of time. On a terminal it is in the foreground meanwhile, so that it can ask for
// a PIN and Ctrl-C reaches it.
RunResult Run(const Command& command);

// The arguments that run `line` through the platform's shell (/bin/sh -c, cmd.exe /c) with
// every %1 replaced by `path`, quoted for that shell (ShellLine), and %% by %.
std::vector<std::string> ShellArguments(const std::string& line, const std::string& path);

enum class Shell { Posix, Cmd };

// `line` with %1 as `path` quoted for `shell` where it stands: in quotes of the line's own
// ("%1", or '%1' for sh) it continues them, elsewhere it is quoted whole; so a line written
// with "%1", as Windows' signing commands are, gives the same path to either shell.
std::string ShellLine(Shell shell, const std::string& line, const std::string& path);
