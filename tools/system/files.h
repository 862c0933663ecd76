// SPDX-License-Identifier: MIT
// Files and the tool's own place, as each platform has them (files_posix.cpp, files_win32.cpp).
// Every path is UTF-8; messages are one line without the path, which the caller names.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The most that list and verify read: a package's offsets are 32-bit, and the program around
// one adds little.
constexpr std::uint64_t INPUT_SIZE_LIMIT = (std::uint64_t{1} << 32) + (std::uint64_t{64} << 20);

// Reads a whole regular file of at most `limit` bytes; anything else is refused before it is
// read. Returns 1; 0 with the reason in `error`.
int ReadWholeFile(const std::string& path, std::vector<unsigned char>* bytes, std::string* error,
                  std::uint64_t limit = INPUT_SIZE_LIMIT);

// Whether `output` may be written: 1 when it does not exist or is a regular file that is none
// of `inputs`; 0 with the reason in `error` for a symbolic link, a device, fifo or folder, or
// one of the inputs under any name. Call it before the work that makes the output.
int CheckOutputPath(const std::string& output, const std::vector<std::string>& inputs,
                    std::string* error);

// Writes `bytes` to a new file beside `path` that takes `path`'s place only when whole, so
// `path` is either the whole new file or left as it was, and a kill leaves nothing behind
// on Linux file systems with O_TMPFILE. Returns 1; 0 with the reason in `error`.
int WriteFileWhole(const std::string& path, const std::vector<unsigned char>& bytes,
                   std::string* error);

// A new folder beside `path`, named ".NAME.TAG-" and a random part after `path`'s name,
// that only this user can open. Returns 1 with its path in `folder`; 0 with the reason.
int MakePrivateFolder(const std::string& path, const std::string& tag, std::string* folder,
                      std::string* error);

// Flushes `from` to the disk, makes it executable and renames it over `to`. Returns 1; 0 with
// the reason in `error`.
int PutInPlace(const std::string& from, const std::string& to, std::string* error);

// 1 when `path` can be opened for reading; 0 with the reason in `error`.
int CanRead(const std::string& path, std::string* error);

// The running tidepack's own file; empty when it cannot be told.
std::string ToolPath();

// Whether `name` is a program on PATH (on Windows, also as NAME.exe).
bool OnPath(const std::string& name);

// An environment variable's value as UTF-8: 1 when it is set; 0 when not.
int GetEnvironment(const std::string& name, std::string* value);

// Whether the standard error goes to a terminal (or console), where a progress line belongs.
bool ErrorsToTerminal();

// The platform's message for the last failed call (errno, GetLastError()).
std::string LastSystemError();
