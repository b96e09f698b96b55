#include "tests/soak/soak_figures.h"

#include <cstdio>

namespace {

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Signed(int value) {
    return (value >= 0 ? "+" : "") + std::to_string(value);
}

}  // namespace

SoakVerdict JudgeSoak(int operations, const ProcessResources& before,
                      const ProcessResources& after) {
    SoakVerdict verdict;
    const double grown_mb = static_cast<double>(after.resident_kb - before.resident_kb) / 1024.0;
    const int descriptors = after.descriptors - before.descriptors;
    const int threads = after.threads - before.threads;

    std::string memory = "resident memory " + Format("%+.2f MB", grown_mb);
    if (operations >= kFewestOperationsForMemory) {
        const double per_1000 = grown_mb * 1000.0 / operations;
        memory += " (" + Format("%.2f", per_1000) + " MB per 1000)";
        if (per_1000 >= kMemoryLimitMbPer1000) {
            verdict.failures.push_back("resident memory grows by " + Format("%.2f", per_1000) +
                                       " MB per 1000 operations, the limit is " +
                                       Format("%.2f", kMemoryLimitMbPer1000));
        }
    } else {
        memory +=
            " (not judged under " + std::to_string(kFewestOperationsForMemory) + " operations)";
    }
    if (descriptors > 0) verdict.failures.push_back(Signed(descriptors) + " open descriptors");
    if (threads > 0) verdict.failures.push_back(Signed(threads) + " threads");

    verdict.passed = verdict.failures.empty();
    verdict.figure = "soak: " + std::to_string(operations) + " operations, " + memory +
                     ", descriptors " + Signed(descriptors) + ", threads " + Signed(threads);
    return verdict;
}
