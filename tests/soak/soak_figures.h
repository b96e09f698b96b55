#pragma once

#include <string>
#include <vector>

#include "tests/support/process_resources.h"

// Fewer operations than this say too little about memory per thousand to be judged: the
// allocator's arenas for the worker and reader threads grow once, by some 0.2 MB, at a moment
// that varies from run to run, and a short run would count that step as a trend.
inline constexpr int kFewestOperationsForMemory = 500;
// Resident memory may grow by less than this per 1,000 operations.
inline constexpr double kMemoryLimitMbPer1000 = 1.0;

struct SoakVerdict {
    bool passed = true;
    // Why it failed, one line each.
    std::vector<std::string> failures;
    // e.g. "soak: 1000 operations, resident memory +0.31 MB (0.31 MB per 1000), descriptors +0,
    // threads +0"
    std::string figure;
};

// One descriptor or thread more after the soak than before fails it, and so does memory growth
// of kMemoryLimitMbPer1000 or more per 1,000 operations once there were enough of them.
SoakVerdict JudgeSoak(int operations, const ProcessResources& before,
                      const ProcessResources& after);
