// SPDX-License-Identifier: MIT
#include "base/system_dll.h"

namespace {

// Not KnownDLLs on XP, Vista or 7, and loaded by name by what the run calls there.
constexpr const char* LOADED_BY_NAME[] = {
    // The dialog: themes, the desktop compositor, accessibility, input methods.
    "uxtheme.dll",
    "dwmapi.dll",
    "oleacc.dll",
    "msctf.dll",
    "imm32.dll",
    // Shell folders and user profiles.
    "userenv.dll",
    "profapi.dll",
    "setupapi.dll",
    "cscapi.dll",
    "mpr.dll",
    // Shell links: COM's class catalogue, link tracking, the property system.
    "clbcatq.dll",
    "comres.dll",
    "linkinfo.dll",
    "propsys.dll",
    // Starting run-after programs (the compatibility check) and reading versions.
    "apphelp.dll",
    "version.dll",
    // Security and crypto calls inside advapi32.
    "cryptbase.dll",
    "ntmarta.dll",
};

}  // namespace

void PreloadSystemDlls(int searchLimited) {
    if (searchLimited) return;
    for (const char* name : LOADED_BY_NAME) LoadSystemDllByPath(name);
}
