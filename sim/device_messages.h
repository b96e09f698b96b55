#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

// What the transmitter makes of the messages it receives, apart from the line and the timing.
namespace sim {

inline constexpr std::uint8_t kUnlockByte = 0xAA;          // sent twice: the unlock preamble
inline constexpr std::uint8_t kReadConfiguration = 0x42;   // 'B'
inline constexpr std::uint8_t kReadVersion = 0x43;         // 'C'
inline constexpr std::uint8_t kWriteConfiguration = 0x44;  // 'D', 13 more bytes
inline constexpr std::uint8_t kReadColdJunction = 0x45;    // 'E'
inline constexpr std::uint8_t kAdjustColdJunction = 0x46;  // 'F', then high, low, 0

// What the device holds.
struct DeviceState {
    std::array<std::uint8_t, 3> version;
    std::array<std::uint8_t, 14> configuration;
    std::int16_t cold_junction_tenths;  // what the device reports
    std::int16_t adjustment_error_tenths;
};

// The full length of the message that starts with `first`, 0 when no message starts so.
std::size_t MessageLength(std::uint8_t first);
// How many configuration bytes the device answers with, by the last number of its version.
std::size_t ConfigurationReplyLength(std::uint8_t version_last);
// "'B'" for a command byte; the unlock byte by name.
std::string CommandName(std::uint8_t first);
// The trace text of a message that stopped short.
std::string IncompleteDescription(std::span<const std::uint8_t> message);

struct Answered {
    std::vector<std::uint8_t> reply;  // empty for commands that are not answered
    std::string description;
};

// Carries out one complete command on an unlocked device.
Answered Obey(DeviceState& state, std::span<const std::uint8_t> command);

// Bytes of the same length as `reply` of which none is the byte it replaces.
std::vector<std::uint8_t> Garbled(std::span<const std::uint8_t> reply);

}  // namespace sim
