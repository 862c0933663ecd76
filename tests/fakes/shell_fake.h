// SPDX-License-Identifier: MIT
// Host stand-in for the shell, the file system and the system version behind the shortcut
// logic: a small set of files and folders, and a record of what would have been done.
#pragma once

#include <string>
#include <vector>

#include "shortcuts/shell_seam.h"

struct FakeShellLink {
    std::string targetPath;
    std::string arguments;
    std::string linkPath;
    std::string workingDir;
    std::string description;
};

// Forgets every folder, file, link and recorded call; the version becomes 5.1 on platform 2.
void FakeShellReset();
// The path the shell gives for special folder `folderNumber`; folders not set are not found.
void FakeShellSetSpecialFolder(int folderNumber, const std::string& path);
// What GetVersionExA reports; `succeeded` 0 makes the call fail.
void FakeShellSetVersion(int succeeded, unsigned major, unsigned minor, unsigned platform);
// Makes a folder or a file exist. Paths match without regard to ASCII case.
void FakeShellAddFolder(const std::string& path);
void FakeShellAddFile(const std::string& path, const std::string& content = "");
// 1 when the file exists; its content in *content when given.
int FakeShellHasFile(const std::string& path, std::string* content = nullptr);
int FakeShellHasFolder(const std::string& path);
// Copies fail from then on, as a full disk or a locked destination would make them.
void FakeShellFailCopies();
// Every link saved, in order.
const std::vector<FakeShellLink>& FakeShellLinks();
// Every change attempted, in order: "mkdir <path>", "copy <source> > <destination>",
// "delete <path>", "link <path>".
const std::vector<std::string>& FakeShellCalls();
