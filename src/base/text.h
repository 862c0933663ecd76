// SPDX-License-Identifier: MIT
// Bounded composition of NUL-terminated ANSI texts in fixed buffers.
//
// Every fixed buffer of the program is written only through these functions. Each one
// always leaves its destination terminated and reports whether the whole text fitted, so a
// caller can refuse a step instead of using a cut-off path.
#pragma once

#include <cstddef>

// Buffer sizes of the program's fixed texts, terminator included.
constexpr std::size_t PATH_TEXT_SIZE = 260;  // MAX_PATH: at most 259 characters
constexpr std::size_t VERSION_TEXT_SIZE = 64;
constexpr std::size_t DIALOG_TEXT_SIZE = 512;
constexpr std::size_t SHORTCUT_TEXT_SIZE = 4096;
constexpr std::size_t DESCRIPTION_SIZE = 256;

// Copies `source` into `dest` (capacity bytes, terminator included).
// Returns 1 when the whole text fitted; 0 when it did not (or capacity is 0), in which case
// `dest` holds the empty text (when capacity > 0), never a cut-off one.
int TextCopy(char* dest, std::size_t capacity, const char* source);

// Appends `source` to the text already in `dest`. Returns 1 when it fitted; on 0 `dest` is
// left as it was before the call.
int TextAppend(char* dest, std::size_t capacity, const char* source);

// printf-style composition into `dest`. Returns 1 when the result fitted; on 0 `dest` holds
// the empty text.
int TextFormat(char* dest, std::size_t capacity, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

// Length of `text` up to its NUL, looking at no more than `limit` bytes; returns `limit` when
// there is no NUL among them.
std::size_t TextLength(const char* text, std::size_t limit);

// The program's prefix test: `text` begins with `name` when its first strlen(name) bytes equal
// those of `name`, ASCII letters matching their other case and every other byte exactly.
// A text shorter than the name never begins with it.
int BeginsWithName(const char* text, const char* name);

// Path separators, found by stepping through `text` one character at a time in the system's
// ANSI code page: in code pages 932, 936 and 950 the second byte of many characters (ソ, 表, 十)
// is 0x5C, and such a byte is part of its character, never a backslash.

// The first backslash of `text`, or null.
const char* FindBackslash(const char* text);

// The last backslash of `text`, or null.
const char* FindLastBackslash(const char* text);

// Removes one backslash that ends `text`; a drive root such as C:\ becomes C:.
void DropTrailingBackslash(char* text);

// 1 when the name [begin, end) is one Windows keeps for a device in every folder (CON, PRN,
// AUX, NUL, COM1 to COM9, LPT1 to LPT9, any case), also with an extension or blanks after it:
// "nul.txt" opens the device, never a file.
int IsDeviceName(const char* begin, const char* end);

// The folder that holds the file `path`, in `folder` (PATH_TEXT_SIZE bytes): `path` up to its
// last backslash, which a drive's root keeps (C:\, as "C:" names the drive's current folder).
// 0, with `folder` empty, when `path` has no backslash.
int FolderOfFile(const char* path, char* folder);

// `path` in `out` (PATH_TEXT_SIZE bytes), with the folder `from` at its start (`from` itself, or
// `from` and a backslash; ASCII letters in either case) replaced by `to`; any other path as it
// is. 0, with `out` empty, when the result does not fit.
int ReplaceFolderAtStart(const char* path, const char* from, const char* to, char* out);
