#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>

#include "sim/simulated_transmitter.h"

namespace sim {

// "AA AA 43"; "-" for no bytes.
std::string HexBytes(std::span<const std::uint8_t> bytes);
// Tenths of a degree as the device's operator reads them: 234 -> "23.4", -52 -> "-5.2".
std::string DegreesFromTenths(int tenths);
// One line of the command-line trace: seconds since `start`, bytes in, bytes out, meaning.
std::string TraceLine(const TraceEntry& entry, std::chrono::steady_clock::time_point start);

}  // namespace sim
