// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "ui/command_line.h"

namespace {

TEST(CommandLine, Switches) {
    const struct {
        const wchar_t* line;
        int valid;
        UiMode mode;
        int usage;
        const wchar_t* log;
    } rows[] = {
        {L"Patch.exe", 1, UI_FULL, 0, L""},
        {L"\"C:\\Down loads\\Patch.exe\"", 1, UI_FULL, 0, L""},
        {L"\"C:\\Down loads\\Patch.exe\" /quiet", 1, UI_QUIET, 0, L""},
        {L"Patch.exe /S", 1, UI_QUIET, 0, L""},
        {L"Patch.exe -QN /norestart", 1, UI_QUIET, 0, L""},
        {L"Patch.exe /q", 1, UI_QUIET, 0, L""},
        {L"Patch.exe /qb /NoRestart", 1, UI_PASSIVE, 0, L""},
        {L"Patch.exe /passive /quiet", 1, UI_QUIET, 0, L""},
        {L"Patch.exe /quiet /passive", 1, UI_QUIET, 0, L""},
        {L"Patch.exe /log \"C:\\Logs\\予定 表.log\" /passive", 1, UI_PASSIVE, 0,
         L"C:\\Logs\\予定 表.log"},
        {L"Patch.exe /LOG=C:\\a.log", 1, UI_FULL, 0, L"C:\\a.log"},
        {L"Patch.exe /l*v C:\\a.log /q", 1, UI_QUIET, 0, L"C:\\a.log"},
        {L"Patch.exe /?", 1, UI_FULL, 1, L""},
        {L"Patch.exe /log", 0, UI_FULL, 0, L""},
        {L"Patch.exe /log=", 0, UI_FULL, 0, L""},
        {L"Patch.exe /silent", 0, UI_FULL, 0, L""},
        {L"Patch.exe quiet", 0, UI_FULL, 0, L""},
        {L"Patch.exe /qr", 0, UI_FULL, 0, L""},
        {L"Patch.exe /quietly /q", 0, UI_QUIET, 0, L""},
        {L"Patch.exe /q /x", 0, UI_QUIET, 0, L""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(&row - rows);
        CommandLine parsed;
        std::fill(parsed.logPath, parsed.logPath + LOG_PATH_SIZE, L'#');
        EXPECT_EQ(row.valid, ParseCommandLine(row.line, &parsed));
        EXPECT_EQ(row.mode, parsed.mode);
        EXPECT_EQ(row.usage, parsed.usage);
        EXPECT_EQ(std::wstring(row.log), std::wstring(parsed.logPath));
    }
}

// The log names the argument behind a 1639: the first one refused.
TEST(CommandLine, TheSwitchRefused) {
    const struct {
        const wchar_t* line;
        const wchar_t* refused;
    } rows[] = {
        {L"Patch.exe /silent /x", L"/silent"},
        {L"Patch.exe /q /log", L"/log"},
        {L"Patch.exe /l*v= /q", L"/l*v="},
        {L"Patch.exe /quiet", L""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(&row - rows);
        CommandLine parsed;
        ParseCommandLine(row.line, &parsed);
        EXPECT_EQ(std::wstring(row.refused), std::wstring(parsed.badSwitch));
    }
}

// A path as long as the room, and one longer: the longer one is refused, never cut.
TEST(CommandLine, LogPathRoom) {
    for (std::size_t length : {LOG_PATH_SIZE - 1, LOG_PATH_SIZE}) {
        std::wstring path(length, L'a');
        std::wstring line = L"Patch.exe /log " + path;
        CommandLine parsed;
        int fits = length < LOG_PATH_SIZE;
        EXPECT_EQ(fits, ParseCommandLine(line.c_str(), &parsed)) << length;
        EXPECT_EQ(fits ? path : std::wstring(), std::wstring(parsed.logPath));
    }
}

}  // namespace
