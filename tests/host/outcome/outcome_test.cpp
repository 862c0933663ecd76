// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "outcome/outcome.h"

namespace {

struct Item {
    ItemKind kind;
    ItemOutcome outcome;
};

struct RecordedRun {
    RunRecord record;
    explicit RecordedRun(const std::vector<Item>& items, RunEnd early = END_DONE,
                         int cancelled = 0) {
        InitRunRecord(&record);
        for (const Item& item : items) RecordItem(&record, item.kind, item.outcome, "p", nullptr);
        if (early != END_DONE) SetEarlyEnd(&record, early);
        record.cancelled = cancelled;
    }
    ~RecordedRun() { FreeRunRecord(&record); }
};

constexpr Item FILE_REPLACED = {ITEM_FILE, OUTCOME_REPLACED};
constexpr Item FILE_KEPT = {ITEM_FILE, OUTCOME_KEPT_VERSION};
constexpr Item FILE_NO_FOLDER = {ITEM_FILE, OUTCOME_SKIPPED_NO_FOLDER};
constexpr Item FILE_IN_USE = {ITEM_FILE, OUTCOME_IN_USE};
constexpr Item FILE_DENIED = {ITEM_FILE, OUTCOME_DENIED};
constexpr Item FILE_FULL = {ITEM_FILE, OUTCOME_DISK_FULL};
constexpr Item FILE_RESTART = {ITEM_FILE, OUTCOME_AT_RESTART};
constexpr Item FILE_PENDING = {ITEM_FILE, OUTCOME_PENDING};
constexpr Item FILE_READ_ONLY = {ITEM_FILE, OUTCOME_KEPT_READ_ONLY};
constexpr Item LINK_NO_TARGET = {ITEM_SHORTCUT, OUTCOME_NO_TARGET};
constexpr Item LINK_FAILED = {ITEM_SHORTCUT, OUTCOME_NOT_CREATED};
constexpr Item PROGRAM_NOT_STARTED = {ITEM_RUN_AFTER, OUTCOME_NOT_STARTED};
constexpr Item NOT_REACHED = {ITEM_FILE, OUTCOME_NOT_REACHED};

// The run's exit code and the dialog's sentence, with its numbers, from what the items became.
TEST(ItemOutcome, RunEndExitCodeAndSummary) {
    const struct {
        const char* name;
        std::vector<Item> items;
        RunEnd early;
        int cancelled;
        int exitCode;
        SummaryKind summary;
        int count;
    } rows[] = {
        {"all replaced", {FILE_REPLACED, FILE_REPLACED}, END_DONE, 0, 0, SUMMARY_DONE, 0},
        {"keeps and absent parts are normal",
         {FILE_KEPT, FILE_NO_FOLDER, LINK_NO_TARGET},
         END_DONE,
         0,
         0,
         SUMMARY_DONE,
         0},
        {"nothing at all", {}, END_DONE, 0, 0, SUMMARY_DONE, 0},
        {"restart", {FILE_REPLACED, FILE_RESTART}, END_DONE, 0, 3010, SUMMARY_RESTART, 1},
        {"in use beats restart",
         {FILE_RESTART, FILE_IN_USE, FILE_IN_USE},
         END_DONE,
         0,
         1603,
         SUMMARY_IN_USE,
         2},
        {"in use named before denied, both counted",
         {FILE_DENIED, FILE_IN_USE},
         END_DONE,
         0,
         1603,
         SUMMARY_IN_USE,
         2},
        {"read-only is not done", {FILE_READ_ONLY}, END_DONE, 0, 1603, SUMMARY_NOT_WRITTEN, 1},
        {"a replace never finished", {FILE_PENDING}, END_DONE, 0, 1603, SUMMARY_NOT_WRITTEN, 1},
        {"only a shortcut and a program failed",
         {FILE_REPLACED, LINK_FAILED, PROGRAM_NOT_STARTED},
         END_DONE,
         0,
         1603,
         SUMMARY_OTHER,
         2},
        {"disk full beats not done",
         {FILE_IN_USE, FILE_FULL},
         END_DONE,
         0,
         112,
         SUMMARY_DISK_FULL,
         1},
        {"cancel beats disk full",
         {FILE_FULL, NOT_REACHED},
         END_DONE,
         1,
         1602,
         SUMMARY_CANCELLED,
         0},
        {"not reached alone is a cancel", {NOT_REACHED}, END_DONE, 0, 1602, SUMMARY_CANCELLED, 0},
        {"product not found beats cancel",
         {},
         END_PRODUCT_NOT_FOUND,
         1,
         1642,
         SUMMARY_NOT_FOUND,
         0},
        {"application running", {}, END_APP_RUNNING, 0, 32, SUMMARY_KIND_COUNT, 0},
        {"package unreadable", {}, END_NOT_DONE, 0, 1603, SUMMARY_OTHER, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        RecordedRun run(row.items, row.early, row.cancelled);
        EXPECT_EQ(row.exitCode, ExitCodeOf(ConcludeRun(&run.record)));
        Summary summary = SummarizeRun(&run.record);
        EXPECT_EQ(row.summary, summary.kind);
        EXPECT_EQ(row.count, summary.count);
    }
}

// Every end is more urgent than the ones after it, as deployment tools read the codes.
TEST(ItemOutcome, EndsInOrderOfPrecedence) {
    const int order[] = {1639, 1618, 32, 1642, 1602, 112, 1603, 3010, 0};
    for (int a = 0; a < END_COUNT; ++a) {
        EXPECT_EQ(order[a], ExitCodeOf(static_cast<RunEnd>(a)));
        EXPECT_EQ(static_cast<RunEnd>(a), RunEndOfExitCode(order[a]));
        for (int b = a; b < END_COUNT; ++b) {
            RunRecord record;
            InitRunRecord(&record);
            SetEarlyEnd(&record, static_cast<RunEnd>(b));
            SetEarlyEnd(&record, static_cast<RunEnd>(a));
            EXPECT_EQ(order[a], ExitCodeOf(ConcludeRun(&record))) << order[a] << " vs " << order[b];
        }
    }
}

TEST(ItemOutcome, FillSummary) {
    const Summary summary = {SUMMARY_IN_USE, 2, 42};
    const struct {
        const wchar_t* sentence;
        std::size_t capacity;
        const wchar_t* expected;
        int fits;
    } rows[] = {
        {L"%1 of %2 files could not be replaced.", 64, L"2 of 42 files could not be replaced.", 1},
        {L"Version %3, 100%%", 64, L"Version 2.1, 100%", 1},
        {L"%2 個のファイルのうち %1 個", 64, L"42 個のファイルのうち 2 個", 1},
        {L"%4 %", 64, L"%4 %", 1},
        {L"%1 of %2", 8, L"2 of 42", 1},  // exactly fills: 7 characters and the terminator
        {L"%1 of %2", 7, L"", 0},
    };
    for (const auto& row : rows) {
        wchar_t text[64];
        std::fill(text, text + 64, L'#');
        EXPECT_EQ(row.fits, FillSummary(text, row.capacity, row.sentence, summary, L"2.1"));
        EXPECT_EQ(std::wstring(row.expected), std::wstring(text));
    }
}

// Items stay where they were recorded while more are added: a pool thread holds one.
// The log takes items in record order as they end: one still pending holds back the lines
// after it, and every line names the Windows error of a step not done.
TEST(ItemOutcome, LinesInOrderAsItemsEnd) {
    RunRecord record;
    InitRunRecord(&record);
    std::vector<std::string> lines;
    record.hook = [](void* context, RunRecord* run) {
        char line[ITEM_PATH_SIZE * 2];
        while (const RunItem* item = NextEndedItem(run)) {
            FormatItemLine(item, line, sizeof line);
            static_cast<std::vector<std::string>*>(context)->push_back(line);
        }
    };
    record.hookContext = &lines;
    RunItem* first = RecordItem(&record, ITEM_FILE, OUTCOME_PENDING, "a", nullptr);
    RecordItem(&record, ITEM_FOLDER, OUTCOME_CREATED, "b", nullptr);
    NotifyRecord(&record);
    EXPECT_TRUE(lines.empty());
    first->error = 32;
    EndItem(&record, first, OUTCOME_IN_USE);
    RunItem* value = RecordItem(&record, ITEM_VALUE, OUTCOME_FAILED, "c", "d");
    value->error = 5;
    NotifyRecord(&record);
    const std::vector<std::string> want = {" file a not written: in use (Windows error 32)",
                                           " folder b created",
                                           " value c failed (d; Windows error 5)"};
    EXPECT_EQ(want, lines);
    // Begun afresh (a second press of Update), the record keeps its hook.
    FreeRunRecord(&record);
    EXPECT_NE(nullptr, record.hook);
    EXPECT_EQ(0, record.logged);
    FreeRunRecord(&record);
}

TEST(ItemOutcome, ItemsKeepTheirPlace) {
    RunRecord record;
    InitRunRecord(&record);
    RunItem* first = RecordItem(&record, ITEM_FILE, OUTCOME_PENDING, "C:\\a", nullptr);
    for (int i = 0; i < 3 * RECORD_BLOCK_ITEMS; ++i)
        RecordItem(&record, ITEM_FILE, OUTCOME_REPLACED, nullptr, nullptr);
    first->outcome = OUTCOME_IN_USE;
    EXPECT_EQ(first, RecordedItem(&record, 0));
    EXPECT_STREQ("C:\\a", RecordedItem(&record, 0)->path);
    EXPECT_EQ(END_NOT_DONE, ConcludeRun(&record));
    FreeRunRecord(&record);
}

}  // namespace
