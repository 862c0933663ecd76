// SPDX-License-Identifier: MIT
// The lead-byte tables tidepack and the host tests stand in with, held to Windows' own.
#include <windows.h>

#include <gtest/gtest.h>

#include "base/code_page.h"

namespace {

TEST(LeadBytes, AgreeWithWindowsForEveryByte) {
    for (unsigned codePage : {932u, 936u, 949u, 950u}) {
        ASSERT_TRUE(IsValidCodePage(codePage)) << codePage;
        for (unsigned byte = 0; byte < 256; ++byte) {
            unsigned char b = static_cast<unsigned char>(byte);
            EXPECT_EQ(IsDBCSLeadByteEx(codePage, b) ? 1 : 0, IsLeadByteOf(codePage, b))
                << "code page " << codePage << ", byte 0x" << std::hex << byte;
        }
    }
}

}  // namespace
