#include "engine/retry.h"

namespace {

constexpr std::uint32_t FIRST_DELAY_MS = 15;
constexpr std::uint32_t LONGEST_DELAY_MS = 400;

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
