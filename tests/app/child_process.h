#pragma once

#include <chrono>
#include <string>
#include <vector>

// A program run in a process of its own, for tests that watch how it starts and how it ends.
struct ChildOutcome {
    bool started = false;
    // Still running when the patience ran out; it was then killed.
    bool still_running = false;
    bool exited = false;  // ended by itself through exit or return from main
    int exit_code = -1;
    int signal = 0;      // the signal that ended it, if one did
    std::string errors;  // everything it wrote to standard error
};

// Runs `program` with `arguments` in the current environment; gives it `patience` to end.
ChildOutcome RunChild(const std::string& program, const std::vector<std::string>& arguments,
                      std::chrono::milliseconds patience);

// The lines a sanitizer writes when it finds a fault.
bool HasSanitizerReport(const std::string& errors);
