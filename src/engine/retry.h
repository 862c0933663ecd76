// How long one entry's file steps wait for a file that another process holds for a moment
// (a virus scanner, the search indexer, a backup agent), before the entry goes on as if the
// step had failed for good.
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
