// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/text.h"

namespace {

TEST(Text, CopyAndFormatRefuseAtTheBufferEdge) {
    char buffer[PATH_TEXT_SIZE];
    for (std::size_t length : {0u, 1u, 258u, 259u, 260u, 300u}) {
        SCOPED_TRACE(length);
        std::string text(length, 'a');
        int fits = length <= 259 ? 1 : 0;
        std::memset(buffer, 0xDD, sizeof buffer);
        EXPECT_EQ(fits, TextCopy(buffer, sizeof buffer, text.c_str()));
        EXPECT_EQ(fits ? text : std::string(), buffer);
        std::memset(buffer, 0xDD, sizeof buffer);
        EXPECT_EQ(fits, TextFormat(buffer, sizeof buffer, "%s", text.c_str()));
        EXPECT_EQ(fits ? text : std::string(), buffer);
    }
}

TEST(Text, AppendKeepsTheTextWhenTheRestDoesNotFit) {
    char buffer[8] = "abc";
    EXPECT_EQ(1, TextAppend(buffer, sizeof buffer, "defg"));
    EXPECT_STREQ("abcdefg", buffer);
    EXPECT_EQ(0, TextAppend(buffer, sizeof buffer, "h"));
    EXPECT_STREQ("abcdefg", buffer);
    char full[4] = {'x', 'y', 'z', 'w'};  // no terminator at all
    EXPECT_EQ(0, TextAppend(full, sizeof full, ""));
}

TEST(Text, PrefixTestFoldsOnlyAsciiLetters) {
    struct Case {
        const char* text;
        const char* name;
        int begins;
    } cases[] = {
        {"<InstallDir>\\Help", "<InstallDir>", 1},
        {"<installdir>", "<InstallDir>", 1},
        {"<INSTALLDIR>x", "<InstallDir>", 1},
        {"<InstallDir", "<InstallDir>", 0},
        {"", "<Desktop>", 0},
        {" <Desktop>", "<Desktop>", 0},
        {"hkey_current_user\\Software", "HKEY_CURRENT_USER", 1},
        {"HKEY-CURRENT_USER", "HKEY_CURRENT_USER", 0},
        {"\xC1<Desktop>", "\xE1<Desktop>", 0},  // bytes above 0x7F are compared exactly
        {"[Desktop>", "{Desktop>", 0},          // no folding outside A-Z and a-z
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.begins, BeginsWithName(c.text, c.name));
    }
}

}  // namespace
