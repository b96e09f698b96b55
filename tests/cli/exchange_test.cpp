// The command line's exchanges against the simulated transmitter. Where the window has the same
// operation, the row holds the bytes the window's own tests pin for it (tests/wine/
// window_cases.cpp, tests/operations/window_operations_test.cpp): both send the same wire.

#include "cli/exchange.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "serial/device_path.h"
#include "sim/simulated_transmitter.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

std::string Text(const FirmwareVersion& v) {
    return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.patch);
}
std::string Text(const DeviceConfiguration& c) {
    std::string text = "sensor " + std::to_string(c.sensor_code) + " upper " +
                       std::to_string(c.upper) + " lower " + (c.lower_negative ? "-" : "") +
                       std::to_string(c.lower_magnitude);
    if (c.output) text += " output " + std::to_string(*c.output);
    if (c.fault) text += " fault " + std::to_string(*c.fault);
    return text;
}
std::string Text(std::int16_t tenths) {
    return TenthsText(tenths);
}
std::string Text(std::monostate) {
    return "done";
}
std::string Text(const ExchangeError& e) {
    static const char* const kKinds[] = {"cannot open", "settings refused", "send failed",
                                         "no reply",    "short reply",      "unknown reply length"};
    static const char* const kOpen[] = {": missing", ": busy", ": no permission", ": other"};
    std::string text = kKinds[int(e.kind)];
    if (e.kind == ExchangeError::Kind::kOpen) text += kOpen[int(e.open.kind)];
    if (e.expected != 0)
        text += " " + std::to_string(e.received) + " of " + std::to_string(e.expected);
    return text;
}
template <typename T>
std::string Outcome(const Result<T>& result) {
    return std::visit([](const auto& either) { return Text(either); }, result);
}

enum class Op { kVersion, kRead, kColdJunction, kWrite, kAdjust, kUnlock };
// The device holds K, -50 ... 300, 4-20 mA, high fault level, reads 23.4 degrees, runs firmware
// 1.0.3 unless told otherwise, and answers as it is told.
enum class Device { kPlain, kFirmware100, kFirmware104, kSilent, kShort, kGone, kMissing, kHeld };

struct ExchangeCase {
    const char* name;
    Op op;
    Device device;
    std::string outcome;
    std::string wire;       // what the device received
    std::string last_told;  // the trace's last meaning
    std::size_t waited_at;  // this byte came a settle time after the one before it (0: none)
    std::chrono::milliseconds settle = 500ms;
};
std::string Hex(const Bytes& bytes) {
    std::string text;
    for (std::uint8_t b : bytes) {
        if (!text.empty()) text += ' ';
        text += {"0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 0xF]};
    }
    return text;
}

void PrintTo(const ExchangeCase& row, std::ostream* out) {
    *out << row.name;
}

std::string RunExchange(Op op, const Link& link) {
    switch (op) {
        case Op::kVersion:
            return Outcome(ReadFirmwareVersion(link));
        case Op::kRead: {  // as `read` does it: the version decides the reply's length
            const Result<FirmwareVersion> version = ReadFirmwareVersion(link);
            if (std::holds_alternative<ExchangeError>(version)) return Outcome(version);
            return Outcome(ReadConfiguration(link, std::get<FirmwareVersion>(version)));
        }
        case Op::kColdJunction:
            return Outcome(ReadColdJunctionTenths(link));
        case Op::kWrite:
            return Outcome(
                WriteConfiguration(link, BuildConfigurationFrame(3, 300, 50, true, 1, 1, 1)));
        case Op::kAdjust:
            return Outcome(AdjustColdJunction(link, 235));
        case Op::kUnlock:
            return Outcome(SendUnlock(link));
    }
    return "?";
}

// The wire of each operation the window has too is the one the window's tests pin for it.
const ExchangeCase kCases[] = {
    {"version_is_the_preamble_then_43", Op::kVersion, Device::kPlain, "1.0.3", "AA AA 43",
     "version 1.0.3", 2},
    {"read_is_the_windows_connect_then_read", Op::kRead, Device::kPlain,
     "sensor 3 upper 300 lower -50 output 0 fault 1", "AA AA 43 AA AA 42", "configuration 14 bytes",
     2},
    {"firmware_1_0_0_answers_11_bytes_without_output_and_fault", Op::kRead, Device::kFirmware100,
     "sensor 3 upper 300 lower -50", "AA AA 43 AA AA 42", "configuration 11 bytes", 5},
    {"cold_junction_is_the_preamble_then_45", Op::kColdJunction, Device::kPlain, "23.4", "AA AA 45",
     "cold junction 23.4", 2},
    // K, -50 ... 300, 0-20 mA, high fault level, no compensation.
    {"write_sends_the_frame_the_window_sends_for_the_same_entry", Op::kWrite, Device::kPlain,
     "done", "AA AA 44 03 01 5E 80 32 01 00 00 00 00 01 01 01", "write configuration", 2},
    {"adjust_reads_back_5_5_s_after_its_frame_without_a_preamble", Op::kAdjust, Device::kPlain,
     "23.5", "AA AA 46 00 EB 00 45", "cold junction 23.5", 6, 5500ms},
    {"unlock_is_the_preamble_alone", Op::kUnlock, Device::kPlain, "done", "AA AA", "unlock", 0},
    {"a_silent_device_is_no_reply", Op::kVersion, Device::kSilent, "no reply 0 of 3", "AA AA 43",
     "read version", 2},
    {"a_reply_missing_its_last_byte_is_short", Op::kColdJunction, Device::kShort,
     "short reply 1 of 2", "AA AA 45", "short reply, 1 of 2 bytes", 2},
    {"a_port_that_vanishes_at_the_command_is_no_reply", Op::kColdJunction, Device::kGone,
     "no reply 0 of 2", "AA AA 45", "read cold junction", 2},
    {"firmware_1_0_4_sends_no_configuration_command", Op::kRead, Device::kFirmware104,
     "unknown reply length", "AA AA 43", "version 1.0.4", 2},
    {"a_missing_port_says_missing", Op::kUnlock, Device::kMissing, "cannot open: missing", "", "",
     0},
    {"a_port_another_opening_holds_says_busy", Op::kUnlock, Device::kHeld, "cannot open: busy", "",
     "", 0},
};

class ExchangeTest : public testing::TestWithParam<ExchangeCase> {};

TEST_P(ExchangeTest, SendsTheWireAndGivesTheOutcome) {
    const ExchangeCase& row = GetParam();
    sim::Options options;
    if (row.device == Device::kFirmware100) options.version = {1, 0, 0};
    if (row.device == Device::kFirmware104) options.version = {1, 0, 4};
    sim::SimulatedTransmitter device(options);
    ASSERT_TRUE(device.IsRunning());
    if (row.device == Device::kSilent) device.InjectFault(sim::Fault::kSilence);
    if (row.device == Device::kShort) device.InjectFault(sim::Fault::kShortReply);
    if (row.device == Device::kGone) device.InjectFault(sim::Fault::kVanish);
    const std::u16string path = Utf16FromUtf8(device.PortPath());
    const SerialPort holder = row.device == Device::kHeld ? OpenSerialDevice(path) : SerialPort{};
    Bytes told_to_device;
    std::string last_told;
    const Link link{row.device == Device::kMissing ? u"/dev/tc-no-such-port" : path,
                    [&](Direction direction, const Bytes& bytes, std::string_view meaning) {
                        if (direction == Direction::kToDevice) {
                            told_to_device.insert(told_to_device.end(), bytes.begin(), bytes.end());
                        }
                        last_told = meaning;
                    }};

    EXPECT_EQ(RunExchange(row.op, link), row.outcome);
    // A frame that needs no reply is done once it has left the port; the device's thread may
    // not have taken it yet.
    for (int i = 0; i < 100 && Hex(device.ReceivedValues()).size() < row.wire.size(); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(Hex(device.ReceivedValues()), row.wire);
    EXPECT_EQ(Hex(told_to_device), row.wire);
    EXPECT_EQ(last_told, row.last_told);
    if (row.waited_at != 0) {
        const auto arrivals = device.ReceivedBytes();
        ASSERT_GT(arrivals.size(), row.waited_at);
        // The device stamps a byte when its thread reads it, a little late after a quiet line.
        EXPECT_GE(arrivals[row.waited_at].when - arrivals[row.waited_at - 1].when,
                  row.settle - 20ms);
    }
}

INSTANTIATE_TEST_SUITE_P(Exchanges, ExchangeTest, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
