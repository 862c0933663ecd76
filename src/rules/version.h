// The version rule: does a packaged copy replace the installed file?
#pragma once

#include <cstdint>

// Reads the ProductVersion text under the first translation pair of `path`'s version resource
// into `versionText` (VERSION_TEXT_SIZE bytes). Returns 1 with the text; 0 when the file has no
// readable ProductVersion (including one of 64 characters or more).
int ReadProductVersion(const char* path, char* versionText);

// The decimal digits of `versionText`, in their order, as one number modulo 2^32.
std::uint32_t VersionNumber(const char* versionText);

// 1 when the packaged copy at `newFile` replaces the file at `installedFile`: unless both
// versions read and the new one's number is the smaller.
int IsNewerOrSame(const char* newFile, const char* installedFile);
