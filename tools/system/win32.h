// SPDX-License-Identifier: MIT
// What tidepack's Windows files share (files_win32.cpp, process_win32.cpp, main_win32.cpp):
// UTF-8 inside the tool, UTF-16 at every Windows call.
#pragma once

#include <cstddef>
#include <string>

// `text` (UTF-8) as UTF-16; bytes that are not UTF-8 become U+FFFD.
std::wstring Widen(const std::string& text);

// `text` (UTF-16) as UTF-8; a lone surrogate becomes U+FFFD.
std::string Narrow(const std::wstring& text);

// The message for a Windows error code: one line, without a final period, English where
// Windows has it; "No such file or directory" and "Permission denied" as on Linux.
std::string SystemMessage(unsigned long code);

// The program CreateProcess runs for `name`: a path as given (or with .exe added), else the
// first NAME (with an extension) or NAME.exe in a folder of PATH. Neither tidepack's folder
// nor the current one is searched unless PATH names it. Empty when there is none.
std::wstring FindProgram(const std::string& name);

// `count` random letters and digits from the system's generator, for names nobody can guess.
std::wstring RandomName(std::size_t count);

// Notes whether stderr is a console, for ErrorsToTerminal, before main_win32.cpp puts a pipe
// to that console in its place.
void NoteErrorsToConsole();
