#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

// Command-line values of the simulated transmitter, shared by transmitter-sim and the demo.
namespace sim {

// "A.B.C", three numbers 0-255.
std::optional<std::array<std::uint8_t, 3>> ParseVersionOption(const std::string& text);
// Degrees as a decimal number, in tenths; nothing when it is not a number or does not fit.
std::optional<std::int16_t> ParseTenthsOption(const std::string& text);
// A whole number of milliseconds, 0 or more.
std::optional<std::chrono::milliseconds> ParseMillisecondsOption(const std::string& text);

}  // namespace sim
