// SPDX-License-Identifier: MIT
#include "ui/dialog_logic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kDialogText = 512;

struct FillCase {
    const char* name;
    const wchar_t* templateText;
    std::wstring field;
    int ok;
    std::wstring expected;
};

TEST(FillTemplate, ReplacesTheOneStringArgument) {
    const std::wstring title63(63, L'T');
    const FillCase cases[] = {
        {"english caption", L"%s Update Program", L"Driftwood Notes", 1,
         L"Driftwood Notes Update Program"},
        {"empty title keeps the leading blank", L"%s Update Program", L"", 1, L" Update Program"},
        {"63-character title whole", L"%s Update Program", title63, 1,
         title63 + L" Update Program"},
        {"carriage return kept", L"Welcome to the Vellumstone Patch Wizard for\r%s", L"X", 1,
         L"Welcome to the Vellumstone Patch Wizard for\rX"},
        {"ampersand and percent in the field pass through", L"update to %s, To continue",
         L"1&2 %s %d", 1, L"update to 1&2 %s %d, To continue"},
        {"percent pair gives one percent", L"100%% %s", L"done", 1, L"100% done"},
        {"second %s has no argument and stays", L"%s and %s", L"a", 1, L"a and %s"},
        {"lone percent stays", L"50% of %s %", L"it", 1, L"50% of it %"},
        {"no %s: copied", L"Progress1", L"ignored", 1, L"Progress1"},
        // The Japanese template stays whole whatever code page the field came from.
        {"japanese template", L"%sの更新する場合は［更新］ボタンをクリックしてください。", L"2.1",
         1, L"2.1の更新する場合は［更新］ボタンをクリックしてください。"},
    };
    for (const FillCase& c : cases) {
        SCOPED_TRACE(c.name);
        wchar_t dest[kDialogText];
        std::fill(dest, dest + kDialogText, L'\xCD');
        EXPECT_EQ(c.ok, FillTemplate(dest, kDialogText, c.templateText, c.field.c_str()));
        EXPECT_EQ(c.expected, std::wstring(dest));
    }
}

TEST(FillTemplate, RefusesAResultLongerThanTheBuffer) {
    // "%s!" with a field of n characters gives n + 1 characters plus the terminator.
    struct Row {
        std::size_t fieldLength;
        int ok;
    } rows[] = {{509, 1}, {510, 1}, {511, 0}, {2400, 0}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fieldLength);
        std::vector<wchar_t> dest(kDialogText + 16, L'\x7F');
        const std::wstring field(row.fieldLength, L'f');
        EXPECT_EQ(row.ok, FillTemplate(dest.data(), kDialogText, L"%s!", field.c_str()));
        if (row.ok) {
            EXPECT_EQ(field + L"!", std::wstring(dest.data()));
        } else {
            EXPECT_EQ(L'\0', dest[0]);
        }
        // Nothing is written past the buffer, whatever the outcome.
        for (std::size_t i = kDialogText; i < dest.size(); ++i) ASSERT_EQ(L'\x7F', dest[i]) << i;
    }
    wchar_t tiny[1] = {L'x'};
    EXPECT_EQ(1, FillTemplate(tiny, 1, L"", L"field unused"));
    EXPECT_EQ(0, FillTemplate(tiny, 1, L"%s", L"a"));
    EXPECT_EQ(0, FillTemplate(tiny, 0, L"", L""));
}

std::vector<unsigned char> HeaderImage(const char* title, const char* versionText) {
    std::vector<unsigned char> image(HEADER_SIZE, 0);
    PackageHeader* header = reinterpret_cast<PackageHeader*>(image.data());
    std::strcpy(header->title, title);
    std::strcpy(header->versionText, versionText);
    return image;
}

TEST(GetDialogTexts, TakesTitleAndVersionInPlace) {
    std::vector<unsigned char> bytes = HeaderImage("Driftwood Notes", "2.1");
    PackageImage image = {bytes.data(), static_cast<std::uint32_t>(bytes.size())};
    DialogTexts texts = GetDialogTexts(image);
    ASSERT_NE(nullptr, texts.title);
    ASSERT_NE(nullptr, texts.versionText);
    EXPECT_STREQ("Driftwood Notes", texts.title);
    EXPECT_STREQ("2.1", texts.versionText);
    EXPECT_EQ(reinterpret_cast<const char*>(bytes.data()) + 4, texts.title);
    EXPECT_EQ(reinterpret_cast<const char*>(bytes.data()) + 68, texts.versionText);
}

TEST(GetDialogTexts, TextsThatDoNotEndInsideThePackageAreAbsent) {
    {
        SCOPED_TRACE("shorter than a header");
        std::vector<unsigned char> bytes = HeaderImage("T", "1");
        PackageImage image = {bytes.data(), HEADER_SIZE - 1};
        DialogTexts texts = GetDialogTexts(image);
        EXPECT_EQ(nullptr, texts.title);
        EXPECT_EQ(nullptr, texts.versionText);
    }
    {
        // The field width is no limit: a title without its NUL runs on into the version text.
        SCOPED_TRACE("title runs over its field");
        std::vector<unsigned char> bytes = HeaderImage("", "2.1");
        std::memset(bytes.data() + 4, 'A', 64);
        PackageImage image = {bytes.data(), static_cast<std::uint32_t>(bytes.size())};
        DialogTexts texts = GetDialogTexts(image);
        ASSERT_NE(nullptr, texts.title);
        EXPECT_EQ(std::string(64, 'A') + "2.1", texts.title);
    }
    {
        SCOPED_TRACE("every byte after the title filled: no NUL before the end");
        std::vector<unsigned char> bytes(HEADER_SIZE, 'B');
        std::memset(bytes.data(), 0, 4);
        PackageImage image = {bytes.data(), static_cast<std::uint32_t>(bytes.size())};
        DialogTexts texts = GetDialogTexts(image);
        EXPECT_EQ(nullptr, texts.title);
        EXPECT_EQ(nullptr, texts.versionText);
    }
}

TEST(DecideCommand, ByTheLowWordOnly) {
    struct Row {
        const char* name;
        std::uintptr_t wParam;
        CommandAction action;
        int endResult;
    } rows[] = {
        {"Escape or close box", 2, COMMAND_END, 2},
        {"close box with a notification code", 0x00010002, COMMAND_END, 2},
        {"Cancel", 3, COMMAND_END, 3},
        {"Cancel with any notification code", 0xFFFF0003, COMMAND_END, 3},
        {"Update", 1000, COMMAND_UPDATE, 0},
        {"Update with BN_CLICKED", 0x000003E8, COMMAND_UPDATE, 0},
        {"IDOK is not ours", 1, COMMAND_IGNORE, 0},
        {"the welcome text", 1002, COMMAND_IGNORE, 0},
        {"3 in the high word only", 0x00030000, COMMAND_IGNORE, 0},
        {"1000 + 65536", 1000 + 65536, COMMAND_UPDATE, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CommandDecision d = DecideCommand(row.wParam);
        EXPECT_EQ(row.action, d.action);
        if (row.action == COMMAND_END) {
            EXPECT_EQ(row.endResult, d.endResult);
        }
    }
}

TEST(DecideUpdatePress, OneWorkerAtATime) {
    struct Row {
        const char* name;
        int done, enabled, alive;
        UpdatePress expected;
    } rows[] = {
        {"ready", 0, 1, 0, PRESS_START},
        {"second press while the first run works", 0, 0, 1, PRESS_IGNORE},
        {"queued press after the dialog disabled Update", 0, 0, 0, PRESS_IGNORE},
        {"blocked run gave Update back, thread ending", 0, 1, 1, PRESS_AWAIT_START},
        {"blocked run ended", 0, 1, 0, PRESS_START},
        {"done: Finish", 1, 1, 0, PRESS_FINISH},
        {"done while the worker is still ending", 1, 1, 1, PRESS_FINISH},
        {"done flag decides even with Update disabled", 1, 0, 1, PRESS_FINISH},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.expected, DecideUpdatePress(row.done, row.enabled, row.alive));
    }
}

// The dialog's side of a run, as the Win32 dialog procedure plays it: each press that starts a
// worker disables Update first; the worker gives it back at a blocked end or the completion.
TEST(DecideUpdatePress, BlockedRunThenASecondPressThenFinish) {
    int done = 0, enabled = 1, alive = 0, workers = 0;
    auto press = [&] {
        UpdatePress p = DecideUpdatePress(done, enabled, alive);
        if (p == PRESS_AWAIT_START) {
            alive = 0;  // the dialog waits for the ending worker
            p = PRESS_START;
        }
        if (p == PRESS_START) {
            enabled = 0;
            alive = 1;
            ++workers;
        }
        return p;
    };
    EXPECT_EQ(PRESS_START, press());
    EXPECT_EQ(PRESS_IGNORE, press());  // a double click
    EXPECT_EQ(1, workers);
    enabled = 1;  // blocked: the worker enables Update and is about to end
    EXPECT_EQ(PRESS_START, press());
    EXPECT_EQ(2, workers);
    done = 1;  // completion: g_done before Update is enabled
    enabled = 1;
    EXPECT_EQ(PRESS_FINISH, press());
    EXPECT_EQ(2, workers);
}

TEST(IsOnlyInstance, HandleAndNoEarlierName) {
    EXPECT_EQ(1, IsOnlyInstance(1, 0));
    EXPECT_EQ(0, IsOnlyInstance(1, 1));  // another copy holds the name
    EXPECT_EQ(0, IsOnlyInstance(0, 0));  // no handle: ends like a second copy
    EXPECT_EQ(0, IsOnlyInstance(0, 1));
}

}  // namespace
