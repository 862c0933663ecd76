// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "fakes/log_place_fake.h"
#include "ui/log_place.h"

namespace {

using Calls = std::vector<std::wstring>;

// Where an elevated run's log lands, and what the log says of its place. The fake resolves
// names as Windows documents for an elevated process: GetFinalPathNameByHandleW names the file
// a junction or object-manager link led to, and a folder's owner is whoever made it.
TEST(LogPlace, TheElevatedLogGoesOnlyWhereNobodyElseCanTurnIt) {
    struct Row {
        const char* name;
        const wchar_t* asked;
        std::function<void(FakeLogPlace*)> arrange;
        std::wstring path;
        std::wstring note;  // a part of the note; empty: no note
        Calls calls;
    };
    const std::wstring product = L"C:\\ProgramData\\Notes";
    const Row rows[] = {
        {"a default folder a standard user made is passed over",
         nullptr,
         [&](FakeLogPlace* f) { f->folders[product] = 0; },
         product + L".1\\patch.log",
         product + L" is not owned by SYSTEM or Administrators",
         {L"Mkdir " + product + L".1 protected", L"Open " + product + L".1\\patch.log"}},
        {"a folder the run makes is the run's own",
         L"%ProgramData%\\Vendor\\Logs\\run.log",
         [](FakeLogPlace*) {},
         L"C:\\ProgramData\\Vendor\\Logs\\run.log",
         L"",
         {L"Mkdir C:\\ProgramData\\Vendor protected",
          L"Mkdir C:\\ProgramData\\Vendor\\Logs protected",
          L"Open C:\\ProgramData\\Vendor\\Logs\\run.log"}},
        {"a log reached through a link is not written",
         L"C:\\ProgramData\\Vendor\\run.log",
         [](FakeLogPlace* f) {
             f->folders[L"C:\\ProgramData\\Vendor"] = 1;
             f->finalPaths[L"C:\\ProgramData\\Vendor\\run.log"] = L"C:\\Windows\\win.ini";
         },
         product + L"\\patch.log",
         L"C:\\ProgramData\\Vendor\\run.log leads elsewhere through a link",
         {L"Open C:\\ProgramData\\Vendor\\run.log", L"Mkdir " + product + L" protected",
          L"Open " + product + L"\\patch.log"}},
        {"a folder that cannot be made: the default place, saying where it was asked for",
         L"Q:\\nowhere\\x.log",
         [](FakeLogPlace* f) { f->failingFolders.insert(L"Q:\\nowhere"); },
         product + L"\\patch.log",
         L"log asked for at Q:\\nowhere\\x.log: Q:\\nowhere cannot be made (Windows error 3)",
         {L"Mkdir " + product + L" protected", L"Open " + product + L"\\patch.log"}},
        {"a full log is moved aside and begun new, never cut",
         nullptr,
         [&](FakeLogPlace* f) {
             f->folders[product] = 1;
             f->files[product + L"\\patch.log"] = LOG_SIZE_LIMIT + 1;
         },
         product + L"\\patch.log",
         L"",
         {L"Open " + product + L"\\patch.log",
          L"Rename " + product + L"\\patch.log > " + product + L"\\patch.log.old",
          L"Open " + product + L"\\patch.log new"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeLogPlaceReset();
        row.arrange(&FakeLogPlaceState());
        LogRequest request = {row.asked, 0, L"Notes", L"patch"};
        LogOpened opened;
        ASSERT_EQ(1, OpenRunLog(request, &opened));
        EXPECT_EQ(row.path, std::wstring(opened.path));
        std::wstring note = opened.note;
        if (row.note.empty())
            EXPECT_EQ(L"", note);
        else
            EXPECT_NE(std::wstring::npos, note.find(row.note))
                << std::string(note.begin(), note.end());
        EXPECT_EQ(row.calls, FakeLogPlaceState().calls);
    }
}

// With the dialog the log goes to the user's temporary folder, elevated or not.
TEST(LogPlace, TheDialogsRunLogsInTheTemporaryFolder) {
    FakeLogPlaceReset();
    LogRequest request = {nullptr, 1, L"Notes", L"patch"};
    LogOpened opened;
    ASSERT_EQ(1, OpenRunLog(request, &opened));
    EXPECT_EQ(std::wstring(L"C:\\Users\\u\\Temp\\patch.log"), std::wstring(opened.path));
    EXPECT_EQ(1, opened.fresh);
}

}  // namespace
