// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "base/system_dll.h"
#include "fakes/system_fake.h"

namespace {

TEST(PreloadSystemDlls, LoadsByPathWhatWindowsLoadsByNameWhereTheSearchIsOpen) {
    FakeSystemResetDlls();
    PreloadSystemDlls(1);
    EXPECT_TRUE(FakeSystemDllLoads().empty()) << "SetDefaultDllDirectories took";

    // As on XP, which has none of these: each is skipped and the rest still load.
    FakeSystemResetDlls({"propsys.dll", "dwmapi.dll", "cryptbase.dll", "profapi.dll"});
    PreloadSystemDlls(0);
    const std::vector<std::string>& loads = FakeSystemDllLoads();
    for (const char* name : {"uxtheme.dll", "userenv.dll", "setupapi.dll", "apphelp.dll",
                             "propsys.dll", "dwmapi.dll", "cryptbase.dll", "oleacc.dll",
                             "version.dll", "profapi.dll", "clbcatq.dll", "linkinfo.dll"})
        EXPECT_EQ(1, std::count(loads.begin(), loads.end(), name)) << name;
}

}  // namespace
