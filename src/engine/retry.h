// SPDX-License-Identifier: MIT
// How long one entry's file steps wait for a file that another process holds for a moment
// (a virus scanner, the search indexer, a backup agent), before the entry goes on as if the
// step had failed for good; and what other answers of the file system mean for an entry.
#pragma once

#include <cstdint>

// Every step of one entry draws on the same budget, so a file held for good costs the run a
// few seconds per entry, not per step.
constexpr std::uint32_t RETRY_BUDGET_MS = 3000;

struct RetryBudget {
    std::uint32_t waitedMs;
    std::uint32_t tries;
};

void StartRetryBudget(RetryBudget* budget);

// The wait before the next try, in milliseconds, counted as waited; 0 when the entry's time is
// spent. The waits double from a few milliseconds (a scanner usually lets go at once) up to a
// cap, and their sum never passes RETRY_BUDGET_MS.
std::uint32_t NextRetryDelay(RetryBudget* budget);

// Windows' answers (winerror.h) that the decisions below look at, for code without windows.h.
constexpr std::uint32_t FILE_ERROR_INVALID_FUNCTION = 1;
constexpr std::uint32_t FILE_ERROR_NOT_SUPPORTED = 50;

enum PermissionsOfTarget {
    PERMISSIONS_INHERITED,   // nothing to put on the copy: it inherits the same beside the target
    PERMISSIONS_COPIED,      // entries of its own, or protection from the folder's: copied
    PERMISSIONS_UNREADABLE,  // the entry is not replaced: the copy could get looser ones
};

// What becomes of the installed file's permissions. `read` is 1 when its DACL was read and
// understood (`ownEntries` then says whether it has more than its folder gives it); otherwise
// `error` is why not. A file system without permissions at all has nothing to lose.
PermissionsOfTarget DecidePermissions(int read, std::uint32_t error, int ownEntries);

// 1 when a staged copy whose flush failed with `error` may still take the target's place: the
// file system cannot flush at all (network redirectors, WebDAV, virtual machines' shared
// folders), so there is no stronger promise to give there.
int FlushFailureAllowsRename(std::uint32_t error);
