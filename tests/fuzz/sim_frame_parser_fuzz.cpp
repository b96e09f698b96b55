// The simulated transmitter's side of the wire on any byte stream: the stream is cut into
// messages by their first byte the way the transmitter's line does it, every complete message
// is obeyed, and what the device answers and records agrees with the wire format and with the
// program's own reading of the same bytes.
//
// An input is three version bytes, two bytes of adjustment error (tenths), then the stream.

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "device/protocol.h"
#include "sim/device_messages.h"
#include "sim/trace_format.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Message lengths by first byte, as the program sends them.
std::size_t WireLength(std::uint8_t first) {
    switch (first) {
        case 0xAA:
            return UnlockPreamble.size();
        case kCommandReadConfiguration:
        case kCommandReadVersion:
        case kCommandReadColdJunction:
            return 1;
        case kCommandWriteConfiguration:
            return kConfigFrameLength;
        case kCommandAdjustColdJunction:
            return kAdjustFrameLength;
        default:
            return 0;
    }
}

std::int16_t Signed16(std::uint8_t high, std::uint8_t low) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(high << 8 | low));
}

// "AA 0F": two capital hex digits a byte, one blank between; "-" for none.
void CheckHex(std::span<const std::uint8_t> bytes) {
    const std::string text = sim::HexBytes(bytes);
    if (bytes.empty()) {
        FUZZ_CHECK(text == "-");
        return;
    }
    FUZZ_CHECK(text.size() == bytes.size() * 3 - 1);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::string pair = text.substr(i * 3, 2);
        FUZZ_CHECK(pair.find_first_not_of("0123456789ABCDEF") == std::string::npos);
        FUZZ_CHECK(std::strtoul(pair.c_str(), nullptr, 16) == bytes[i]);
        if (i + 1 < bytes.size()) FUZZ_CHECK(text[i * 3 + 2] == ' ');
    }
}

void CheckDegrees(std::int16_t tenths) {
    const std::string text = sim::DegreesFromTenths(tenths);
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    FUZZ_CHECK(*end == '\0' && value == tenths / 10.0);
}

// One complete message: what the device does with it and answers.
void Obey(sim::DeviceState& device, const Bytes& message) {
    const sim::DeviceState before = device;
    const sim::Answered answer = sim::Obey(device, message);
    const std::uint8_t command = message.front();
    if (command == kCommandReadVersion) {
        FUZZ_CHECK(answer.reply == Bytes(before.version.begin(), before.version.end()));
        FUZZ_CHECK(answer.description == "read version -> " + std::to_string(before.version[0]) +
                                             "." + std::to_string(before.version[1]) + "." +
                                             std::to_string(before.version[2]));
    } else if (command == kCommandReadConfiguration) {
        const std::uint8_t last = before.version[2];
        const std::size_t length = last == 0 ? 11 : last <= 2 ? 13 : 14;
        FUZZ_CHECK(answer.reply ==
                   Bytes(before.configuration.begin(), before.configuration.begin() + length));
        // The program reads exactly this many bytes from every firmware it reads at all.
        const std::size_t read = SensorReplyLength(last);
        FUZZ_CHECK(read == 0 || read == length);
        FUZZ_CHECK((read == 0) == (last >= 4));
    } else if (command == kCommandReadColdJunction) {
        FUZZ_CHECK(answer.reply.size() == kColdJunctionReplyLength);
        FUZZ_CHECK(Signed16(answer.reply[0], answer.reply[1]) == before.cold_junction_tenths);
        FUZZ_CHECK(DecodeColdJunctionTenths(answer.reply.data()) == before.cold_junction_tenths);
        FUZZ_CHECK(
            answer.description.ends_with(sim::DegreesFromTenths(before.cold_junction_tenths)));
        CheckDegrees(before.cold_junction_tenths);
    } else if (command == kCommandWriteConfiguration) {
        FUZZ_CHECK(answer.reply.empty());
        FUZZ_CHECK(std::equal(message.begin(), message.end(), device.configuration.begin()));
    } else if (command == kCommandAdjustColdJunction) {
        FUZZ_CHECK(answer.reply.empty());
        const auto wanted = Signed16(message[1], message[2]);
        FUZZ_CHECK(device.cold_junction_tenths ==
                   static_cast<std::int16_t>(wanted + before.adjustment_error_tenths));
        CheckDegrees(wanted);
    }
    if (command != kCommandWriteConfiguration)
        FUZZ_CHECK(device.configuration == before.configuration);
    if (command != kCommandAdjustColdJunction) {
        FUZZ_CHECK(device.cold_junction_tenths == before.cold_junction_tenths);
    }
    FUZZ_CHECK(device.version == before.version);

    // A garbled reply keeps the length and changes every byte.
    const Bytes garbage = sim::Garbled(answer.reply);
    FUZZ_CHECK(garbage.size() == answer.reply.size());
    for (std::size_t i = 0; i < garbage.size(); ++i) FUZZ_CHECK(garbage[i] != answer.reply[i]);

    CheckHex(message);
    CheckHex(answer.reply);
    const auto start = std::chrono::steady_clock::time_point{};
    const std::string line =
        sim::TraceLine({start, message, answer.reply, answer.description}, start);
    FUZZ_CHECK(line.find(sim::HexBytes(message)) != std::string::npos);
    FUZZ_CHECK(line.find(answer.description) != std::string::npos);
}

void CheckIncomplete(const Bytes& message) {
    const std::string text = sim::IncompleteDescription(message);
    if (message.front() == 0xAA) {
        FUZZ_CHECK(text == "incomplete unlock preamble");
        return;
    }
    FUZZ_CHECK(text.ends_with("(" + std::to_string(message.size()) + " of " +
                              std::to_string(WireLength(message.front())) + " bytes)"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5) return 0;
    sim::DeviceState device{{data[0], data[1], data[2]},
                            {0x44, 0x03, 0x01, 0x5E, 0x80, 0x32, 0x01, 0, 0, 0, 0, 0, 1, 0},
                            234,
                            Signed16(data[3], data[4])};

    Bytes message;
    for (std::size_t i = 5; i < size; ++i) {
        const std::uint8_t byte = data[i];
        FUZZ_CHECK(sim::MessageLength(byte) == WireLength(byte));
        // A preamble byte followed by anything else is a preamble cut short.
        if (!message.empty() && message.front() == 0xAA && byte != 0xAA) {
            CheckIncomplete(message);
            message.clear();
        }
        if (message.empty() && sim::MessageLength(byte) == 0) {
            const sim::Answered answer = sim::Obey(device, std::span(&byte, 1));
            FUZZ_CHECK(answer.reply.empty());
            FUZZ_CHECK(answer.description ==
                       "unknown byte 0x" + sim::HexBytes(std::span(&byte, 1)));
            continue;
        }
        message.push_back(byte);
        if (message.size() < sim::MessageLength(message.front())) continue;
        if (message.front() != 0xAA) Obey(device, message);
        message.clear();
    }
    if (!message.empty()) CheckIncomplete(message);
    return 0;
}
