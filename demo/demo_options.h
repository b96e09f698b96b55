#pragma once

#include <optional>
#include <string>

#include "sim/simulated_transmitter.h"

// What transmitter-demo was asked for on its command line.
struct DemoOptions {
    sim::Options device;      // the simulated transmitter's version, temperatures and errors
    std::string tour_folder;  // empty: the window is the user's; else the tour's pictures go here
    bool trace = false;       // print every frame the simulated transmitter handles
    bool help = false;
};

extern const char* const kDemoUsage;

// The options, or nullopt with `error` saying what was wrong.
std::optional<DemoOptions> ParseDemoOptions(int argc, char** argv, std::string& error);
