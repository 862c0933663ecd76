// SPDX-License-Identifier: MIT
#include "fakes/system_fake.h"

#include <algorithm>

#include "base/code_page.h"
#include "base/system_dll.h"

namespace {

unsigned g_codePage = 1252;
std::vector<std::string> g_missingDlls;
std::vector<std::string> g_dllLoads;

}  // namespace

void FakeSystemSetCodePage(unsigned codePage) { g_codePage = codePage; }

int IsAnsiLeadByte(unsigned char byte) { return IsLeadByteOf(g_codePage, byte); }

void FakeSystemResetDlls(const std::vector<std::string>& missing) {
    g_missingDlls = missing;
    g_dllLoads.clear();
}

const std::vector<std::string>& FakeSystemDllLoads() { return g_dllLoads; }

int LoadSystemDllByPath(const char* name) {
    g_dllLoads.push_back(name);
    return std::find(g_missingDlls.begin(), g_missingDlls.end(), name) == g_missingDlls.end();
}
