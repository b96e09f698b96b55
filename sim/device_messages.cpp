#include "sim/device_messages.h"

#include <algorithm>
#include <cstdio>

#include "sim/trace_format.h"

namespace sim {
namespace {

std::string HexWord(std::uint8_t high, std::uint8_t low) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X%02X", static_cast<unsigned>(high),
                  static_cast<unsigned>(low));
    return text;
}

std::int16_t TwoBytesSigned(std::uint8_t high, std::uint8_t low) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(high << 8 | low));
}

Answered ReadVersion(const DeviceState& state) {
    const auto& v = state.version;
    return {{v.begin(), v.end()},
            "read version -> " + std::to_string(v[0]) + '.' + std::to_string(v[1]) + '.' +
                std::to_string(v[2])};
}

Answered ReadConfiguration(const DeviceState& state) {
    const std::size_t length = ConfigurationReplyLength(state.version[2]);
    return {{state.configuration.begin(), state.configuration.begin() + length},
            "read configuration -> " + std::to_string(length) + " bytes"};
}

Answered ReadColdJunction(const DeviceState& state) {
    const auto bits = static_cast<std::uint16_t>(state.cold_junction_tenths);
    return {{static_cast<std::uint8_t>(bits >> 8), static_cast<std::uint8_t>(bits & 0xFF)},
            "read cold junction -> " + DegreesFromTenths(state.cold_junction_tenths)};
}

Answered WriteConfiguration(DeviceState& state, std::span<const std::uint8_t> frame) {
    std::copy(frame.begin(), frame.end(), state.configuration.begin());
    return {{},
            "write configuration: sensor " + std::to_string(frame[1]) + " upper " +
                HexWord(frame[2], frame[3]) + " lower " + HexWord(frame[4], frame[5]) + " output " +
                std::to_string(frame[11]) + " fault " + std::to_string(frame[12]) + " cj " +
                std::to_string(frame[13])};
}

Answered AdjustColdJunction(DeviceState& state, std::span<const std::uint8_t> frame) {
    const std::int16_t wanted = TwoBytesSigned(frame[1], frame[2]);
    // The device's own trim is off by the error, the way a badly trimmed unit would be.
    state.cold_junction_tenths = static_cast<std::int16_t>(wanted + state.adjustment_error_tenths);
    return {{}, "adjust cold junction to " + DegreesFromTenths(wanted)};
}

}  // namespace

std::size_t MessageLength(std::uint8_t first) {
    switch (first) {
        case kUnlockByte:
            return 2;
        case kReadConfiguration:
        case kReadVersion:
        case kReadColdJunction:
            return 1;
        case kWriteConfiguration:
            return 14;
        case kAdjustColdJunction:
            return 4;
        default:
            return 0;
    }
}

std::size_t ConfigurationReplyLength(std::uint8_t version_last) {
    if (version_last == 0) return 11;
    if (version_last <= 2) return 13;
    return 14;
}

std::string CommandName(std::uint8_t first) {
    if (first == kUnlockByte) return "unlock preamble";
    return std::string("'") + static_cast<char>(first) + "'";
}

std::string IncompleteDescription(std::span<const std::uint8_t> message) {
    if (message.front() == kUnlockByte) return "incomplete unlock preamble";
    return "incomplete " + CommandName(message.front()) + " frame (" +
           std::to_string(message.size()) + " of " +
           std::to_string(MessageLength(message.front())) + " bytes)";
}

Answered Obey(DeviceState& state, std::span<const std::uint8_t> command) {
    switch (command.front()) {
        case kReadVersion:
            return ReadVersion(state);
        case kReadConfiguration:
            return ReadConfiguration(state);
        case kReadColdJunction:
            return ReadColdJunction(state);
        case kWriteConfiguration:
            return WriteConfiguration(state, command);
        case kAdjustColdJunction:
            return AdjustColdJunction(state, command);
        default:
            return {{}, "unknown byte 0x" + HexBytes(command.first(1))};
    }
}

std::vector<std::uint8_t> Garbled(std::span<const std::uint8_t> reply) {
    std::vector<std::uint8_t> garbage;
    for (std::uint8_t byte : reply) garbage.push_back(byte == 0x5A ? 0xA5 : 0x5A);
    return garbage;
}

}  // namespace sim
