// SPDX-License-Identifier: MIT
#include "engine/retry.h"

namespace {

constexpr std::uint32_t FIRST_DELAY_MS = 15;
constexpr std::uint32_t LONGEST_DELAY_MS = 400;

// The file system has no such thing at all, rather than refusing it to us.
int FileSystemLacksIt(std::uint32_t error) {
    return error == FILE_ERROR_INVALID_FUNCTION || error == FILE_ERROR_NOT_SUPPORTED;
}

}  // namespace

void StartRetryBudget(RetryBudget* budget) {
    budget->waitedMs = 0;
    budget->tries = 0;
}

std::uint32_t NextRetryDelay(RetryBudget* budget) {
    if (budget->waitedMs >= RETRY_BUDGET_MS) return 0;
    std::uint32_t delay = LONGEST_DELAY_MS;
    if (budget->tries < 5) delay = FIRST_DELAY_MS << budget->tries;
    if (delay > LONGEST_DELAY_MS) delay = LONGEST_DELAY_MS;
    if (delay > RETRY_BUDGET_MS - budget->waitedMs) delay = RETRY_BUDGET_MS - budget->waitedMs;
    budget->waitedMs += delay;
    ++budget->tries;
    return delay;
}

PermissionsOfTarget DecidePermissions(int read, std::uint32_t error, int ownEntries) {
    if (read) return ownEntries ? PERMISSIONS_COPIED : PERMISSIONS_INHERITED;
    return FileSystemLacksIt(error) ? PERMISSIONS_INHERITED : PERMISSIONS_UNREADABLE;
}

int FlushFailureAllowsRename(std::uint32_t error) { return FileSystemLacksIt(error); }
