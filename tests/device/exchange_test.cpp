// The command line's exchanges against the simulated transmitter. A row whose operation the window
// has too holds the wire the window's tests pin for it (tests/wine/window_cases.cpp).

#include "device/exchange.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "serial/device_path.h"
#include "sim/simulated_transmitter.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

std::string Hex(const Bytes& bytes) {
    std::string text;
    for (std::uint8_t b : bytes) {
        text += {"0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 15], ' '};
    }
    return text.substr(0, text.empty() ? 0 : text.size() - 1);
}

std::string Text(const FirmwareVersion& v) {
    return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.patch);
}
std::string Text(const DeviceConfiguration& c) {
    std::string text = "sensor " + std::to_string(c.sensor_code) + " " + std::to_string(c.upper) +
                       " to " + (c.lower_negative ? "-" : "") + std::to_string(c.lower_magnitude);
    if (c.output && c.fault) {
        text += " output " + std::to_string(*c.output) + " fault " + std::to_string(*c.fault);
    }
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
                                         "no reply",    "short reply",      "unknown reply length",
                                         "port lost"};
    static const char* const kOpen[] = {": missing", ": busy", ": no permission", ": other"};
    return kKinds[int(e.kind)] +
           std::string(e.kind == ExchangeError::Kind::kOpen ? kOpen[int(e.open.kind)] : "") +
           (e.expected != 0 ? " " + std::to_string(e.received) + " of " + std::to_string(e.expected)
                            : "");
}
template <typename T>
std::string Outcome(const Result<T>& result) {
    return std::visit([](const auto& either) { return Text(either); }, result);
}

using Run = std::string (*)(const Link&);
const Run kVersion = [](const Link& l) { return Outcome(ReadFirmwareVersion(l)); };
const Run kColdJunction = [](const Link& l) { return Outcome(ReadColdJunctionTenths(l)); };
const Run kAdjust = [](const Link& l) { return Outcome(AdjustColdJunction(l, 235)); };
const Run kUnlock = [](const Link& l) { return Outcome(SendUnlock(l)); };
const Run kWrite = [](const Link& l) {
    return Outcome(WriteConfiguration(l, BuildConfigurationFrame(3, 300, 50, true, 1, 1, 1)));
};
// As `read` does it: the version decides the configuration reply's length.
const Run kRead = [](const Link& l) {
    const Result<FirmwareVersion> v = ReadFirmwareVersion(l);
    return v.index() != 0 ? Outcome(v) : Outcome(ReadConfiguration(l, std::get<0>(v)));
};

// The device holds K, -50 ... 300, 4-20 mA, high fault level, reads 23.4 degrees, runs firmware
// 1.0.3 unless told otherwise, and answers as it is told.
enum class Device { kPlain, kFirmware100, kFirmware104, kSilent, kShort, kGone, kMissing, kHeld };

struct ExchangeCase {
    const char* name;
    Run run;
    Device device;
    std::string outcome;
    std::string wire;       // what the device received
    std::string last_told;  // the trace's last meaning
    std::size_t waited_at;  // this byte came a settle time after the one before it (0: none)
    std::chrono::milliseconds settle = 500ms;
};
void PrintTo(const ExchangeCase& row, std::ostream* out) {
    *out << row.name;
}

const ExchangeCase kCases[] = {
    {"version_is_the_preamble_then_43", kVersion, Device::kPlain, "1.0.3", "AA AA 43",
     "version 1.0.3", 2},
    {"read_is_the_windows_connect_then_read", kRead, Device::kPlain,
     "sensor 3 300 to -50 output 0 fault 1", "AA AA 43 AA AA 42", "configuration 14 bytes", 2},
    {"firmware_1_0_0_answers_11_bytes_without_output_and_fault", kRead, Device::kFirmware100,
     "sensor 3 300 to -50", "AA AA 43 AA AA 42", "configuration 11 bytes", 5},
    {"cold_junction_is_the_preamble_then_45", kColdJunction, Device::kPlain, "23.4", "AA AA 45",
     "cold junction 23.4", 2},
    // K, -50 ... 300, 0-20 mA, high fault level, no compensation.
    {"write_sends_the_frame_the_window_sends_for_the_same_entry", kWrite, Device::kPlain, "done",
     "AA AA 44 03 01 5E 80 32 01 00 00 00 00 01 01 01", "write configuration", 2},
    {"adjust_reads_back_5_5_s_after_its_frame_without_a_preamble", kAdjust, Device::kPlain, "23.5",
     "AA AA 46 00 EB 00 45", "cold junction 23.5", 6, 5500ms},
    {"unlock_is_the_preamble_alone", kUnlock, Device::kPlain, "done", "AA AA", "unlock", 0},
    {"a_silent_device_is_no_reply", kVersion, Device::kSilent, "no reply 0 of 3", "AA AA 43",
     "read version", 2},
    {"a_reply_missing_its_last_byte_is_short", kColdJunction, Device::kShort, "short reply 1 of 2",
     "AA AA 45", "short reply, 1 of 2 bytes", 2},
    {"a_port_that_vanishes_at_the_command_is_lost", kColdJunction, Device::kGone, "port lost",
     "AA AA 45", "read cold junction", 2},
    {"firmware_1_0_4_sends_no_configuration_command", kRead, Device::kFirmware104,
     "unknown reply length", "AA AA 43", "version 1.0.4", 2},
    {"a_missing_port_says_missing", kUnlock, Device::kMissing, "cannot open: missing", "", "", 0},
    {"a_port_another_opening_holds_says_busy", kUnlock, Device::kHeld, "cannot open: busy", "", "",
     0},
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

    EXPECT_EQ(row.run(link), row.outcome);
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
