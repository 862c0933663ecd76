// SPDX-License-Identifier: MIT
// A package as tidepack reads it: a package file, or a built patch program that carries one as
// RCDATA 1. Also the helpers that list and verify share.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "extras/extras.h"
#include "package/package.h"
#include "package/unicode_texts.h"
#include "system/files.h"

struct PackageFile {
    std::vector<unsigned char> bytes;  // the whole file
    PackageImage image;                // the package inside `bytes`
    std::string origin;                // "" for a package file, else where in the program it lies
    // The steps beside the package: RCDATA 2 of a program, or the file ExtrasPathOf names
    // beside a package file. extras.data null: none.
    std::vector<unsigned char> extrasBytes;  // of a file beside the package
    ExtrasImage extras{nullptr, 0};
    std::string extrasOrigin;
    // The texts as UTF-16 beside the package: RCDATA 3 of a program, or the file TextsPathOf
    // names beside a package file. texts.data null: none.
    std::vector<unsigned char> textsBytes;
    UnicodeTextsImage texts{nullptr, 0};
    std::string textsOrigin;
};

// Where `build` puts the steps beside the package file `packagePath`: the same name with
// ".extras" added.
std::string ExtrasPathOf(const std::string& packagePath);

// Where `build` puts the texts as UTF-16 beside the package file: ".texts" added.
std::string TextsPathOf(const std::string& packagePath);

// Reads `path` whole. A PE image is searched for RCDATA 1 (language 1033 preferred) and RCDATA
// 2; any other file is taken as a package, with the steps file beside it when there is one. Returns
// 1; 0 with the reason in `error` (unreadable file, a program without the resource, a package file
// over 4 GiB).
int LoadPackageFile(const std::string& path, PackageFile* file, std::string* error);

// Whether `bytes` is a manifest rather than a package: TOML with a manifest's keys.
bool IsManifestText(const unsigned char* bytes, std::size_t size);

// The same for a file's bytes already in `file->bytes`: sets `image` and `origin`.
int FindPackageInBytes(PackageFile* file, std::string* error);

// What zlib made of one stream, inflated piece by piece.
struct Inflated {
    std::uint64_t produced = 0;  // more than the limit only when the stream holds more
    int result = 0;              // zlib's last answer: Z_STREAM_END when the stream ended
    std::string message;         // zlib's, when it found the stream damaged
    std::uint64_t left = 0;      // input not taken
};

// Inflates `size` bytes of zlib stream in pieces (a damaged size must not make us allocate
// gigabytes), stopping once more than `limit` bytes came out, when the input is all taken
// without an end, or when `piece` (if given) returns false for the bytes just made.
Inflated InflateInPieces(const unsigned char* stream, std::uint64_t size, std::uint64_t limit,
                         const std::function<bool(const unsigned char*, std::size_t)>& piece = {});

// A text field of the image: 1 with the text up to its NUL in `text` and whether that NUL lies
// inside the field's `width` in `*inField`; 0 when the text runs to the end of the image.
int FieldText(const PackageImage& image, const char* field, std::size_t width, std::string* text,
              bool* inField);

// Entry flags by name: "ENTRY_ALWAYS_REPLACE|ENTRY_RUN_AFTER", other bits in hex, "none" for 0.
std::string FlagNames(std::uint32_t flags);

// Byte offset of `field` in the image.
std::uint64_t FieldOffset(const PackageImage& image, const void* field);

// The folders the target rules ask for (GetWindowsFolder/GetSystemFolder), in the target
// machines' code page: C:\WINDOWS and C:\WINDOWS\system32 unless set.
void SetPlatformFolders(const std::string& windowsFolder, const std::string& systemFolder);

// The target machines' ANSI code page, whose lead bytes the rules' path splitting steps over
// (IsAnsiLeadByte): 932 unless set.
void SetPlatformCodePage(int codePage);

// The shortcut and file placeholders, for checks of what a package or manifest names.
extern const char* const SHORTCUT_TAG_NAMES[5];
extern const char* const FILE_PLACEHOLDER_NAMES[3];
// Index of the tag or placeholder `text` begins with (the program's prefix test), or -1.
int ShortcutTagOf(const char* text);
int FilePlaceholderOf(const char* text);

// What a text names, for NameFault: one file name; a placeholder then its folders; a full
// folder (a drive or UNC root, then folders); folders appended after a backslash; a shortcut
// tag then its folders and name.
enum class NameKind { File, Folder, Absolute, Relative, Shortcut };

// Why Windows cannot hold `text` (in `codePage`) where the program puts it as a `kind`: control
// characters, characters Windows refuses, '..', device names, a name ending in a dot or space,
// a missing separator after a placeholder or tag. "" when it can.
std::string NameFault(const std::string& text, int codePage, NameKind kind);

// One entry's folder and file name, in the target machines' code page.
struct EntryPlace {
    std::string folder;
    std::string fileName;
};

// Why a patch program that runs as the invoking user (asInvoker, chosen from an
// HKEY_CURRENT_USER `registryKey`) fails for a standard user: the entries that go where only an
// administrator writes (<SystemDir>, <WindowsDir>, <InstallDir> with a `defaultFolder` in
// Program Files, ProgramData or Windows), named, with how to choose the level. "" when the
// level is not chosen so or no entry goes there.
std::string AsInvokerWarning(const std::string& registryKey, const std::string& defaultFolder,
                             const std::vector<EntryPlace>& entries, int codePage);

// "1 file", "2 files"; `plural` for irregular ones.
std::string Count(std::uint64_t count, const std::string& singular, const std::string& plural = "");
