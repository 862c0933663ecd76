// SPDX-License-Identifier: MIT
// Host stand-in for choosing and opening the log (ui/log_place_seam.h): folders and files by
// path, as Windows documents them for an elevated process, with every change recorded in order:
//   "Mkdir <folder> [protected]", "Open <path> [new]", "Rename <from> > <to>"
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

struct FakeLogPlace {
    int elevated = 1;
    std::wstring programData = L"C:\\ProgramData";
    std::wstring temp = L"C:\\Users\\u\\Temp";
    // Folders there; the value is 1 when SYSTEM or Administrators own it.
    std::map<std::wstring, int> folders = {{L"C:\\ProgramData", 1}, {L"C:\\Users\\u\\Temp", 0}};
    std::set<std::wstring> failingFolders;             // CreateDirectory refuses these
    std::map<std::wstring, unsigned long long> files;  // files there, by size
    // Files that open as another one (a junction on the way, an object-manager link): what
    // GetFinalPathNameByHandleW names for them.
    std::map<std::wstring, std::wstring> finalPaths;
    std::vector<std::wstring> calls;
};

FakeLogPlace& FakeLogPlaceState();
void FakeLogPlaceReset();
