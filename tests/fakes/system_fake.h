// SPDX-License-Identifier: MIT
// Host stand-in for what base's own code asks of the system: the ANSI code page's lead bytes
// and loading system DLLs by their full path.
#pragma once

#include <string>
#include <vector>

// The system's ANSI code page from now on: 932, 936, 949 and 950 have lead bytes, any other
// has none. The code page is 1252 until set.
void FakeSystemSetCodePage(unsigned codePage);

// Forgets the DLLs loaded; from now on the ones named in `missing` fail to load.
void FakeSystemResetDlls(const std::vector<std::string>& missing = {});
// Every LoadSystemDllByPath call since the last reset, in order, loaded or not.
const std::vector<std::string>& FakeSystemDllLoads();
