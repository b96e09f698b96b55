#pragma once

#include <chrono>
#include <optional>

// What the running process holds, as Linux reports it under /proc/self: leaks of descriptors,
// threads and memory show up here whatever code caused them.
struct ProcessResources {
    int descriptors = 0;
    int threads = 0;
    // VmRSS, the resident memory, in kilobytes.
    long resident_kb = 0;
};

ProcessResources CurrentProcessResources();

// A detached thread that has just handed back ReadyFlag is still on its way out, so the counts
// settle a moment after an operation ends. Waits until descriptors and threads are back to
// `expected` (resident memory is not compared), at most `patience`; returns the last reading.
ProcessResources SettledProcessResources(const ProcessResources& expected,
                                         std::chrono::milliseconds patience);
