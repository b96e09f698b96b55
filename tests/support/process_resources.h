#pragma once

#include <chrono>
#include <string>
#include <vector>

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

// One line per thread ("thread NAME") and per open descriptor ("descriptor TARGET"), sorted, to
// tell what a count that moved is made of.
std::vector<std::string> ProcessHandles();
// The lines of `after` that `before` has not (as many times), one a line.
std::string NewHandles(const std::vector<std::string>& before,
                       const std::vector<std::string>& after);
