// SPDX-License-Identifier: MIT
// How a run ended: one outcome for each thing the run did or left, the run's end drawn from
// them, and the one table that gives each outcome and each end its name, its exit code and its
// summary text. The dialog, the exit code, the log and `tidepack plan` all read these tables, so
// they cannot disagree.
#pragma once

#include <cstddef>

// What a recorded item is. A new kind (a folder made, a file removed, a registry value) is one
// more name here, its outcomes in the table below, and a RecordItem call where it is done.
enum ItemKind {
    ITEM_FILE,         // a packaged file and its target
    ITEM_SHORTCUT,     // one line of an entry's shortcut text
    ITEM_MOVE,         // one shortcut-move record
    ITEM_RUN_AFTER,    // a program run after the copy; `code` is its exit code
    ITEM_FOLDER,       // a folder the steps beside the package create
    ITEM_REMOVAL,      // a file they remove
    ITEM_VALUE,        // a registry value they set
    ITEM_INSTALL_DIR,  // the install folder found, and where from (the detail)
    ITEM_APPLICATION,  // a listed application found running; the path is its window class
    ITEM_PACKAGE,      // the package or the steps beside it, when they cannot be applied
    ITEM_SWITCH,       // a switch of the command line that is not known
    ITEM_KIND_COUNT
};

// How an item ended. Each has a class (OutcomeClassOf) that decides what it means for the run.
enum ItemOutcome {
    OUTCOME_PENDING,  // begun and not finished yet (a replace still on the pool)
    // files
    OUTCOME_REPLACED,
    OUTCOME_ADDED,
    OUTCOME_KEPT_VERSION,         // the version rule kept the installed file
    OUTCOME_KEPT_READ_ONLY,       // the installed file is read-only
    OUTCOME_KEPT_FOLDER,          // a folder is at the target
    OUTCOME_SKIPPED_NO_FOLDER,    // the target's folder does not exist: a part not installed
    OUTCOME_SKIPPED_PLACEHOLDER,  // the entry's folder begins with no known placeholder
    OUTCOME_SKIPPED_TOO_LONG,     // the target path would not fit, or its base is unknown
    OUTCOME_DENIED,               // not written: access denied
    OUTCOME_IN_USE,               // not written: another process holds the file
    OUTCOME_DISK_FULL,            // not written: the disk is full
    OUTCOME_DAMAGED,              // not written: the packaged data does not inflate whole
    OUTCOME_NOT_WRITTEN,          // not written for another reason
    OUTCOME_AT_RESTART,           // the new file takes the target's place at the next restart
    // shortcuts
    OUTCOME_CREATED,
    OUTCOME_EXISTS,       // something is at the shortcut's place already: left alone
    OUTCOME_NO_PLACE,     // the shortcut line names no folder on this Windows
    OUTCOME_NO_TARGET,    // the target does not exist: no shortcut to nothing
    OUTCOME_NOT_CREATED,  // the shell could not make it
    // moves
    OUTCOME_MOVED,
    OUTCOME_DELETED,          // `to` names no place: the old shortcut is deleted
    OUTCOME_NOTHING_TO_MOVE,  // `from` names no shortcut
    OUTCOME_NOT_MOVED,        // the copy to the new place failed: the old one stays
    // run-after programs
    OUTCOME_RAN,  // `code` holds its exit code
    OUTCOME_NOT_STARTED,
    OUTCOME_LEFT_RUNNING,  // unattended, still running when its time was up: left to finish
    // folders, removals and registry values (also OUTCOME_CREATED, OUTCOME_AT_RESTART)
    OUTCOME_ALREADY_THERE,
    OUTCOME_REMOVED,
    OUTCOME_NOT_THERE,               // no file to remove
    OUTCOME_SET,                     // a registry value
    OUTCOME_KEY_MISSING,             // the value's key does not exist: a patch installs nothing
    OUTCOME_REFUSED,                 // not beneath an existing install folder, or unreadable
    OUTCOME_SKIPPED_NOT_ALL_DONE,    // a removal or value held back: not every entry was done
    OUTCOME_FAILED,                  // Windows refused the step
    OUTCOME_SKIPPED_EARLIER_FAILED,  // a value held back: an earlier step failed
    // the run's own items
    OUTCOME_FOUND,         // the install folder
    OUTCOME_NOT_FOUND,     // no install folder: the run's early end says what follows
    OUTCOME_RUNNING,       // a listed application
    OUTCOME_CANNOT_APPLY,  // the package or its steps cannot be read (the detail says which)
    // any kind
    OUTCOME_NOT_REACHED,  // the run was ended before it came to this item
    OUTCOME_COUNT
};

enum OutcomeClass {
    CLASS_DONE,       // did what the package asked
    CLASS_NORMAL,     // left alone by a rule: logged, never a failure
    CLASS_NOT_DONE,   // something was not done and is left old or missing
    CLASS_DISK_FULL,  // as CLASS_NOT_DONE, because the disk is full
    CLASS_RESTART,    // done once Windows restarts
    CLASS_CANCELLED,  // not reached: the user ended the run
};

// The outcome's name as the log and `tidepack plan` print it ("replaced", "kept: version").
const char* OutcomeName(ItemOutcome outcome);
OutcomeClass OutcomeClassOf(ItemOutcome outcome);
// The name of an item kind in the log ("file", "shortcut", "move", "run-after").
const char* ItemKindName(ItemKind kind);

// The outcome of a step that failed with the Windows error `error` (GetLastError's value).
ItemOutcome OutcomeOfError(unsigned long error);

// How the whole run ended, in the order of precedence: where several apply, the first wins.
// The first four end the run before anything is written.
enum RunEnd {
    END_BAD_COMMAND_LINE,   // 1639
    END_ANOTHER_COPY,       // 1618
    END_APP_RUNNING,        // 32: a listed application runs or a process holds a target
    END_PRODUCT_NOT_FOUND,  // 1642
    END_CANCELLED,          // 1602
    END_DISK_FULL,          // 112
    END_NOT_DONE,           // 1603
    END_RESTART,            // 3010
    END_DONE,               // 0
    END_COUNT
};

int ExitCodeOf(RunEnd end);
// The end's meaning for the log's last line ("done", "restart needed").
const char* RunEndName(RunEnd end);
// The end whose exit code is `code`; END_COUNT when none is.
RunEnd RunEndOfExitCode(int code);

// --- the record of one run

constexpr std::size_t ITEM_PATH_SIZE = 260;
constexpr std::size_t ITEM_DETAIL_SIZE = 160;
constexpr std::size_t ITEM_TIME_SIZE = 24;

struct RunItem {
    ItemKind kind;
    // Written once more by the thread that finishes the item; read when the run has ended.
    volatile ItemOutcome outcome;
    long code;                      // ITEM_RUN_AFTER: the program's exit code
    unsigned long error;            // the Windows error behind a step not done; 0 when none
    char time[ITEM_TIME_SIZE];      // when it was recorded, as the platform gave it
    char path[ITEM_PATH_SIZE];      // target, shortcut, program; may be empty
    char detail[ITEM_DETAIL_SIZE];  // what else the log says (versions, the other path)
};

constexpr int RECORD_BLOCK_ITEMS = 256;

struct RunRecord;
// Told whenever the record gains an item or an item ends (on the run's thread): the log writes
// the items that have ended, as they end.
using RecordHook = void (*)(void* context, RunRecord* record);

// Items live in blocks that never move, so a thread finishing an item may hold its address
// while the run records more.
struct RunRecord {
    RunItem** blocks;
    int blockCount;
    int itemCount;
    int lostItems;        // items that could not be recorded for want of memory
    RunEnd early;         // an end decided before or instead of the items; END_DONE when none
    int cancelled;        // the user ended the run
    int withoutTempFile;  // entries for which no temporary file was left (no name could be made)
    // Kept when the record is begun afresh; `logged` counts the items the hook has taken.
    RecordHook hook;
    void* hookContext;
    int logged;
};

// A record with no items and no hook.
void InitRunRecord(RunRecord* record);
// Frees the items and begins the record afresh; its hook stays.
void FreeRunRecord(RunRecord* record);
// Tells the hook (when set) that items were added or ended.
void NotifyRecord(RunRecord* record);
// Gives `item` of `record` its final `outcome` and tells the hook.
void EndItem(RunRecord* record, RunItem* item, ItemOutcome outcome);
// The next item to log, in record order, counted as logged; null when every item is logged or
// the next one has not ended yet (a line never overtakes the one before it).
const RunItem* NextEndedItem(RunRecord* record);
// Adds an item with `outcome` and returns it, to be finished later where it is OUTCOME_PENDING;
// null when memory ran out (counted in lostItems). `path` and `detail` may be null; texts too
// long are cut: they are for reading only.
RunItem* RecordItem(RunRecord* record, ItemKind kind, ItemOutcome outcome, const char* path,
                    const char* detail);
// Item `index` (0 to itemCount - 1).
const RunItem* RecordedItem(const RunRecord* record, int index);
// Sets the end decided before the items (the more urgent of it and what was set before).
void SetEarlyEnd(RunRecord* record, RunEnd end);

// The counts the run's end and its summary are drawn from.
struct RunCounts {
    int byOutcome[OUTCOME_COUNT];
    int files;  // every ITEM_FILE
    int lost;
};
void CountRun(const RunRecord* record, RunCounts* counts);

// The run's end: the early end if any, the user's cancel, then the items' classes; an item
// still pending or lost counts as not done, since nothing shows it was.
RunEnd ConcludeRun(const RunRecord* record);
// The end of a run the user ended while its items may still change: the early end or the
// cancel, without reading the items.
RunEnd ConcludeCancelledRun(const RunRecord* record);

// The log's line for `item`: its time, kind, path, outcome and what else is known in brackets (a
// run-after program's exit code, the detail, the Windows error of a step not done), without a
// line end. 1 when it fitted; else the line
// holds as much as fitted.
int FormatItemLine(const RunItem* item, char* line, std::size_t capacity);

// --- the finished state's summary

// Which sentence the dialog shows, in the order its string table holds them (the ids begin at
// IDS_SUMMARY_FIRST in res/resource.h). Each may use %1 (a count), %2 (of how many files) and
// %3 (the package's version).
enum SummaryKind {
    SUMMARY_DONE,
    SUMMARY_RESTART,
    SUMMARY_IN_USE,
    SUMMARY_DENIED,
    SUMMARY_DAMAGED,
    SUMMARY_NOT_WRITTEN,
    SUMMARY_OTHER,  // no file failed; other steps did (%1 of them)
    SUMMARY_DISK_FULL,
    SUMMARY_NOT_FOUND,
    SUMMARY_CANCELLED,
    SUMMARY_UNREADABLE,  // the package cannot be applied: nothing was changed
    SUMMARY_KIND_COUNT
};
struct Summary {
    SummaryKind kind;
    int count;
    int total;
};
Summary SummarizeRun(const RunRecord* record);

// Fills `dest` (capacity characters) from a summary sentence: %1 and %2 become the numbers,
// %3 becomes `version`, %% a percent sign; anything else is copied. 1 when it all fitted; 0 with
// `dest` empty otherwise.
int FillSummary(wchar_t* dest, std::size_t capacity, const wchar_t* sentence,
                const Summary& summary, const wchar_t* version);
