// SPDX-License-Identifier: MIT
// Benchmark only (TIDEWELL_BENCH_BREAKDOWN, never shipped): where the apply run's time goes,
// step by step, written at the end of the run to the file TIDEWELL_BENCH_BREAKDOWN_FILE names.
// In every other build BENCH_STEP is nothing and none of this is compiled.
#pragma once

#ifdef TIDEWELL_BENCH_BREAKDOWN

enum BreakdownStep {
    STEP_RUN,  // the whole entry loop and the wait for its last replaces: the wall time
    STEP_BUFFER,
    STEP_INFLATE,
    STEP_VQ_CREATE,
    STEP_VQ_WRITE,
    STEP_VQ_CLOSE,
    STEP_VERSION_EXISTS,
    STEP_VERSION_HOLD,
    STEP_VERSION_READ,
    STEP_ATTRIBUTES_READ,
    STEP_SECURITY_READ,
    STEP_STAGED_CREATE,
    STEP_STAGED_WRITE,
    STEP_SECURITY_SET,
    STEP_POOL_QUEUE,
    STEP_POOL_WAIT,
    STEP_FLUSH,  // this and the next two on the pool's threads, overlapping the run
    STEP_STAGED_CLOSE,
    STEP_RENAME,
    STEP_PROGRESS,
    STEP_SHORTCUTS,
    STEP_COUNT
};

// Adds the time from its making to the end of its scope to `step`; safe on any thread.
class BreakdownTimer {
public:
    explicit BreakdownTimer(BreakdownStep step);
    ~BreakdownTimer();
    BreakdownTimer(const BreakdownTimer&) = delete;
    BreakdownTimer& operator=(const BreakdownTimer&) = delete;

private:
    BreakdownStep step_;
    long long start_;
};

long long BreakdownNow();
void BreakdownAdd(BreakdownStep step, long long start);
void WriteBreakdown();

#define BENCH_STEP(step) BreakdownTimer breakdownTimer(step)
#define BENCH_START(start) long long start = BreakdownNow()
#define BENCH_STOP(step, start) BreakdownAdd(step, start)
#define BENCH_WRITE() WriteBreakdown()

#else

#define BENCH_STEP(step)
#define BENCH_START(start)
#define BENCH_STOP(step, start)
#define BENCH_WRITE()

#endif
