// SPDX-License-Identifier: MIT
#include "outcome/outcome.h"

#include <cstdlib>
#include <cstring>

namespace {

struct OutcomeRow {
    const char* name;
    OutcomeClass outcomeClass;
};

// Indexed by ItemOutcome: a new outcome cannot lack its name or its class.
constexpr OutcomeRow OUTCOMES[OUTCOME_COUNT] = {
    {"pending", CLASS_NOT_DONE},
    {"replaced", CLASS_DONE},
    {"added", CLASS_DONE},
    {"kept: version", CLASS_NORMAL},
    {"kept: read-only", CLASS_NOT_DONE},
    {"kept: folder at target", CLASS_NOT_DONE},
    {"skipped: no folder", CLASS_NORMAL},
    {"skipped: no known placeholder", CLASS_NOT_DONE},
    {"skipped: path too long", CLASS_NOT_DONE},
    {"not written: access denied", CLASS_NOT_DONE},
    {"not written: in use", CLASS_NOT_DONE},
    {"not written: disk full", CLASS_DISK_FULL},
    {"not written: damaged data", CLASS_NOT_DONE},
    {"not written", CLASS_NOT_DONE},
    {"at restart", CLASS_RESTART},
    {"created", CLASS_DONE},
    {"exists", CLASS_NORMAL},
    {"skipped: no folder on this Windows", CLASS_NORMAL},
    {"skipped: no target", CLASS_NORMAL},
    {"not created", CLASS_NOT_DONE},
    {"moved", CLASS_DONE},
    {"deleted", CLASS_DONE},
    {"skipped: nothing to move", CLASS_NORMAL},
    {"not moved", CLASS_NOT_DONE},
    {"ran", CLASS_DONE},
    {"not started", CLASS_NOT_DONE},
    {"left running", CLASS_NORMAL},
    {"already there", CLASS_NORMAL},
    {"removed", CLASS_DONE},
    {"not there", CLASS_NORMAL},
    {"set", CLASS_DONE},
    {"key missing", CLASS_NORMAL},
    {"refused", CLASS_NOT_DONE},
    {"skipped: not every entry was done", CLASS_NOT_DONE},
    {"failed", CLASS_NOT_DONE},
    {"skipped: an earlier step failed", CLASS_NOT_DONE},
    {"found", CLASS_NORMAL},
    {"not found", CLASS_NORMAL},
    {"running", CLASS_NOT_DONE},
    {"cannot be applied", CLASS_NOT_DONE},
    {"not reached", CLASS_CANCELLED},
};

constexpr const char* ITEM_KIND_NAMES[ITEM_KIND_COUNT] = {
    "file",  "shortcut",       "move",        "run-after", "folder", "removal",
    "value", "install folder", "application", "package",   "switch"};

struct EndRow {
    int exitCode;
    const char* name;
};

// Indexed by RunEnd, in its order of precedence.
constexpr EndRow ENDS[END_COUNT] = {
    {1639, "bad command line"},
    {1618, "another copy is running"},
    {32, "an application of the product is running"},
    {1642, "product not found"},
    {1602, "cancelled by the user"},
    {112, "disk full"},
    {1603, "something was not done"},
    {3010, "done once Windows restarts"},
    {0, "done"},
};

RunEnd MoreUrgent(RunEnd a, RunEnd b) { return a < b ? a : b; }

RunEnd EndOfClass(OutcomeClass outcomeClass) {
    switch (outcomeClass) {
        case CLASS_DONE:
        case CLASS_NORMAL:
            return END_DONE;
        case CLASS_NOT_DONE:
            return END_NOT_DONE;
        case CLASS_DISK_FULL:
            return END_DISK_FULL;
        case CLASS_RESTART:
            return END_RESTART;
        case CLASS_CANCELLED:
            return END_CANCELLED;
    }
    return END_NOT_DONE;
}

// Appends `text` at `*at` when it fits before `end` (the terminator's place).
int Put(wchar_t** at, wchar_t* end, const wchar_t* text) {
    std::size_t length = 0;
    while (text[length]) ++length;
    if (length > static_cast<std::size_t>(end - *at)) return 0;
    for (std::size_t i = 0; i < length; ++i) *(*at)++ = text[i];
    return 1;
}

void NumberText(int number, wchar_t* text) {
    wchar_t reversed[16];
    int length = 0;
    unsigned value = number < 0 ? 0u : static_cast<unsigned>(number);
    do {
        reversed[length++] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value);
    for (int i = 0; i < length; ++i) text[i] = reversed[length - 1 - i];
    text[length] = L'\0';
}

// `value` in decimal at `text`, terminated; returns the terminator's place.
char* UnsignedText(unsigned long value, char* text) {
    char digits[16];
    int length = 0;
    do {
        digits[length++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value);
    for (int i = 0; i < length; ++i) text[i] = digits[length - 1 - i];
    text[length] = '\0';
    return text + length;
}

void CopyCut(char* dest, std::size_t capacity, const char* source) {
    if (!source) source = "";
    std::size_t length = std::strlen(source);
    if (length >= capacity) length = capacity - 1;
    std::memcpy(dest, source, length);
    dest[length] = '\0';
}

}  // namespace

const char* OutcomeName(ItemOutcome outcome) {
    return outcome >= 0 && outcome < OUTCOME_COUNT ? OUTCOMES[outcome].name : "unknown";
}

OutcomeClass OutcomeClassOf(ItemOutcome outcome) {
    return outcome >= 0 && outcome < OUTCOME_COUNT ? OUTCOMES[outcome].outcomeClass
                                                   : CLASS_NOT_DONE;
}

const char* ItemKindName(ItemKind kind) {
    return kind >= 0 && kind < ITEM_KIND_COUNT ? ITEM_KIND_NAMES[kind] : "item";
}

ItemOutcome OutcomeOfError(unsigned long error) {
    switch (error) {
        case 5:  // ERROR_ACCESS_DENIED
            return OUTCOME_DENIED;
        case 32:    // ERROR_SHARING_VIOLATION
        case 33:    // ERROR_LOCK_VIOLATION
        case 1224:  // ERROR_USER_MAPPED_FILE: a loaded DLL or running program
            return OUTCOME_IN_USE;
        case 39:   // ERROR_HANDLE_DISK_FULL
        case 112:  // ERROR_DISK_FULL
            return OUTCOME_DISK_FULL;
        case 3:  // ERROR_PATH_NOT_FOUND: the target's folder is not there
            return OUTCOME_SKIPPED_NO_FOLDER;
        case 206:  // ERROR_FILENAME_EXCED_RANGE: a staged copy's name does not fit
            return OUTCOME_SKIPPED_TOO_LONG;
        default:
            return OUTCOME_NOT_WRITTEN;
    }
}

int ExitCodeOf(RunEnd end) { return end >= 0 && end < END_COUNT ? ENDS[end].exitCode : 1603; }

const char* RunEndName(RunEnd end) {
    return end >= 0 && end < END_COUNT ? ENDS[end].name : "unknown";
}

RunEnd RunEndOfExitCode(int code) {
    for (int end = 0; end < END_COUNT; ++end)
        if (ENDS[end].exitCode == code) return static_cast<RunEnd>(end);
    return END_COUNT;
}

int FormatItemLine(const RunItem* item, char* line, std::size_t capacity) {
    if (capacity == 0) return 0;
    line[0] = '\0';
    const char* parts[] = {item->time, " ", ItemKindName(item->kind),  " ",
                           item->path, " ", OutcomeName(item->outcome)};
    char code[32] = "";
    if (item->kind == ITEM_RUN_AFTER && item->outcome == OUTCOME_RAN) {
        std::memcpy(code, " (exit code ", 12);
        char* end = UnsignedText(static_cast<unsigned long>(item->code), code + 12);
        end[0] = ')';
        end[1] = '\0';
    }
    std::size_t used = 0;
    int fits = 1;
    auto put = [&](const char* text) {
        for (; *text; ++text) {
            if (used + 1 >= capacity) {
                fits = 0;
                break;
            }
            line[used++] = *text;
        }
        line[used] = '\0';
    };
    for (const char* part : parts) put(part);
    put(code);
    // What Windows answered, for a support desk to look up.
    char error[32] = "";
    OutcomeClass outcomeClass = OutcomeClassOf(item->outcome);
    if (item->error && (outcomeClass == CLASS_NOT_DONE || outcomeClass == CLASS_DISK_FULL)) {
        std::memcpy(error, "Windows error ", 15);
        UnsignedText(item->error, error + 14);
    }
    if (item->detail[0] || error[0]) {
        put(" (");
        put(item->detail);
        if (item->detail[0] && error[0]) put("; ");
        put(error);
        put(")");
    }
    return fits;
}

void InitRunRecord(RunRecord* record) {
    record->hook = nullptr;
    record->hookContext = nullptr;
    record->logged = 0;
    record->blocks = nullptr;
    record->blockCount = 0;
    record->itemCount = 0;
    record->lostItems = 0;
    record->early = END_DONE;
    record->cancelled = 0;
    record->withoutTempFile = 0;
}

void FreeRunRecord(RunRecord* record) {
    for (int i = 0; i < record->blockCount; ++i) std::free(record->blocks[i]);
    std::free(record->blocks);
    RecordHook hook = record->hook;
    void* context = record->hookContext;
    InitRunRecord(record);
    record->hook = hook;
    record->hookContext = context;
}

void NotifyRecord(RunRecord* record) {
    if (record->hook) record->hook(record->hookContext, record);
}

void EndItem(RunRecord* record, RunItem* item, ItemOutcome outcome) {
    if (item) item->outcome = outcome;
    NotifyRecord(record);
}

const RunItem* NextEndedItem(RunRecord* record) {
    if (record->logged >= record->itemCount) return nullptr;
    const RunItem* item = RecordedItem(record, record->logged);
    if (item->outcome == OUTCOME_PENDING) return nullptr;
    ++record->logged;
    return item;
}

RunItem* RecordItem(RunRecord* record, ItemKind kind, ItemOutcome outcome, const char* path,
                    const char* detail) {
    int block = record->itemCount / RECORD_BLOCK_ITEMS;
    if (block == record->blockCount) {
        // calloc rather than new: the program carries no C++ run-time library (see README);
        // nor realloc, which is not on the list of what XP's msvcrt is checked for.
        RunItem** grown = static_cast<RunItem**>(std::calloc(block + 1, sizeof(RunItem*)));
        if (!grown) {
            ++record->lostItems;
            return nullptr;
        }
        if (block) std::memcpy(grown, record->blocks, block * sizeof(RunItem*));
        std::free(record->blocks);
        record->blocks = grown;
        record->blocks[block] =
            static_cast<RunItem*>(std::calloc(RECORD_BLOCK_ITEMS, sizeof(RunItem)));
        if (!record->blocks[block]) {
            ++record->lostItems;
            return nullptr;
        }
        record->blockCount = block + 1;
    }
    RunItem* item = &record->blocks[block][record->itemCount % RECORD_BLOCK_ITEMS];
    ++record->itemCount;
    item->kind = kind;
    item->outcome = outcome;
    item->code = 0;
    item->error = 0;
    item->time[0] = '\0';
    CopyCut(item->path, sizeof item->path, path);
    CopyCut(item->detail, sizeof item->detail, detail);
    return item;
}

const RunItem* RecordedItem(const RunRecord* record, int index) {
    return &record->blocks[index / RECORD_BLOCK_ITEMS][index % RECORD_BLOCK_ITEMS];
}

void SetEarlyEnd(RunRecord* record, RunEnd end) { record->early = MoreUrgent(record->early, end); }

void CountRun(const RunRecord* record, RunCounts* counts) {
    std::memset(counts, 0, sizeof *counts);
    for (int i = 0; i < record->itemCount; ++i) {
        const RunItem* item = RecordedItem(record, i);
        ItemOutcome outcome = item->outcome;
        if (outcome >= 0 && outcome < OUTCOME_COUNT) ++counts->byOutcome[outcome];
        if (item->kind == ITEM_FILE) ++counts->files;
    }
    counts->lost = record->lostItems;
}

RunEnd ConcludeRun(const RunRecord* record) {
    RunEnd end = record->early;
    if (record->cancelled) end = MoreUrgent(end, END_CANCELLED);
    if (record->lostItems) end = MoreUrgent(end, END_NOT_DONE);
    for (int i = 0; i < record->itemCount; ++i)
        end = MoreUrgent(end, EndOfClass(OutcomeClassOf(RecordedItem(record, i)->outcome)));
    return end;
}

RunEnd ConcludeCancelledRun(const RunRecord* record) {
    return MoreUrgent(record->early, END_CANCELLED);
}

Summary SummarizeRun(const RunRecord* record) {
    RunCounts counts;
    CountRun(record, &counts);
    Summary summary = {SUMMARY_KIND_COUNT, 0, counts.files};
    const int* by = counts.byOutcome;
    switch (ConcludeRun(record)) {
        case END_DONE:
            summary.kind = SUMMARY_DONE;
            break;
        case END_RESTART:
            summary.kind = SUMMARY_RESTART;
            summary.count = by[OUTCOME_AT_RESTART];
            break;
        case END_DISK_FULL:
            summary.kind = SUMMARY_DISK_FULL;
            summary.count = by[OUTCOME_DISK_FULL];
            break;
        case END_PRODUCT_NOT_FOUND:
            summary.kind = SUMMARY_NOT_FOUND;
            break;
        case END_CANCELLED:
            summary.kind = SUMMARY_CANCELLED;
            break;
        case END_NOT_DONE: {
            // The likeliest cause first, with its own advice; the other files still count.
            const struct {
                ItemOutcome outcome;
                SummaryKind kind;
            } causes[] = {{OUTCOME_IN_USE, SUMMARY_IN_USE},
                          {OUTCOME_DENIED, SUMMARY_DENIED},
                          {OUTCOME_DAMAGED, SUMMARY_DAMAGED}};
            int filesNotDone = 0, othersNotDone = counts.lost;
            for (int i = 0; i < record->itemCount; ++i) {
                const RunItem* item = RecordedItem(record, i);
                if (OutcomeClassOf(item->outcome) != CLASS_NOT_DONE) continue;
                if (item->kind == ITEM_FILE)
                    ++filesNotDone;
                else
                    ++othersNotDone;
            }
            summary.kind = filesNotDone ? SUMMARY_NOT_WRITTEN : SUMMARY_OTHER;
            if (by[OUTCOME_CANNOT_APPLY]) {
                summary.kind = SUMMARY_UNREADABLE;
                break;
            }
            summary.count = filesNotDone ? filesNotDone : othersNotDone;
            for (const auto& cause : causes) {
                if (by[cause.outcome]) {
                    summary.kind = cause.kind;
                    break;
                }
            }
            break;
        }
        default:
            break;
    }
    return summary;
}

int FillSummary(wchar_t* dest, std::size_t capacity, const wchar_t* sentence,
                const Summary& summary, const wchar_t* version) {
    if (capacity == 0) return 0;
    wchar_t* at = dest;
    wchar_t* end = dest + capacity - 1;
    wchar_t number[16];
    int fits = 1;
    for (const wchar_t* c = sentence; *c && fits; ++c) {
        if (*c == L'%' && (c[1] == L'1' || c[1] == L'2')) {
            NumberText(c[1] == L'1' ? summary.count : summary.total, number);
            fits = Put(&at, end, number);
            ++c;
        } else if (*c == L'%' && c[1] == L'3') {
            fits = Put(&at, end, version ? version : L"");
            ++c;
        } else if (*c == L'%' && c[1] == L'%') {
            fits = Put(&at, end, L"%");
            ++c;
        } else {
            wchar_t one[2] = {*c, L'\0'};
            fits = Put(&at, end, one);
        }
    }
    *at = L'\0';
    if (!fits) dest[0] = L'\0';
    return fits;
}
