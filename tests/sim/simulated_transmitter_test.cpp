#include "sim/simulated_transmitter.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// Rows of the tables below carry a `name` for their test's name.
constexpr auto kRowName = [](const auto& info) { return std::string(info.param.name); };

const Bytes kUnlock{0xAA, 0xAA};
const Bytes kReadVersion{0x43};
const Bytes kReadConfiguration{0x42};
const Bytes kReadColdJunction{0x45};

// The port side, opened the way the configurator opens a serial port.
class Port {
  public:
    explicit Port(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY)) {
        if (fd_ < 0) return;
        termios settings{};
        ::tcgetattr(fd_, &settings);
        ::cfmakeraw(&settings);
        ::tcsetattr(fd_, TCSANOW, &settings);
        ::tcflush(fd_, TCIFLUSH);
    }
    ~Port() {
        if (fd_ >= 0) ::close(fd_);
    }
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    void Write(const Bytes& bytes) {
        ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Up to `count` bytes, giving up `patience` after the call.
    Bytes Read(std::size_t count, std::chrono::milliseconds patience = 2000ms) {
        Bytes bytes;
        const auto deadline = Clock::now() + patience;
        while (bytes.size() < count) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd line{fd_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&line, 1, static_cast<int>(left.count())) <= 0) break;
            std::uint8_t byte = 0;
            if (::read(fd_, &byte, 1) != 1) break;
            bytes.push_back(byte);
        }
        return bytes;
    }
    // The result of one read once the line reports something: -1, 0 or 1.
    ssize_t ReadOnceAfterPoll() {
        pollfd line{fd_, POLLIN, 0};
        ::poll(&line, 1, 2000);
        std::uint8_t byte = 0;
        return ::read(fd_, &byte, 1);
    }

  private:
    int fd_;
};

// Waits until the device has taken in `count` bytes.
void WaitUntilReceived(const sim::SimulatedTransmitter& device, std::size_t count) {
    const auto deadline = Clock::now() + 2s;
    while (device.ReceivedValues().size() < count && Clock::now() < deadline) {
        std::this_thread::sleep_for(2ms);
    }
}

// Waits until the device has handled `count` messages; the trace by then.
std::vector<sim::TraceEntry> TraceOf(const sim::SimulatedTransmitter& device, std::size_t count) {
    const auto deadline = Clock::now() + 2s;
    auto trace = device.Trace();
    while (trace.size() < count && Clock::now() < deadline) {
        std::this_thread::sleep_for(2ms);
        trace = device.Trace();
    }
    return trace;
}

Bytes Prefix(const std::array<std::uint8_t, 14>& frame, std::size_t length) {
    return Bytes(frame.begin(), frame.begin() + length);
}

struct VersionRow {
    const char* name;
    std::array<std::uint8_t, 3> version;
    std::size_t configuration_length;
};
void PrintTo(const VersionRow& row, std::ostream* out) {
    *out << row.name;
}

class RepliesByVersion : public testing::TestWithParam<VersionRow> {};

TEST_P(RepliesByVersion, EachCommandIsAnsweredWithItsBytesAndLength) {
    sim::Options options;
    options.version = GetParam().version;
    options.cold_junction_tenths = -200;
    sim::SimulatedTransmitter device(options);
    Port port(device.PortPath());
    ASSERT_TRUE(port.IsOpen());
    port.Write(kUnlock);

    port.Write(kReadVersion);
    EXPECT_EQ(port.Read(3), Bytes(options.version.begin(), options.version.end()));
    port.Write(kReadConfiguration);
    EXPECT_EQ(port.Read(GetParam().configuration_length),
              Prefix(options.configuration, GetParam().configuration_length));
    port.Write(kReadColdJunction);
    EXPECT_EQ(port.Read(2), (Bytes{0xFF, 0x38}));
    EXPECT_TRUE(port.Read(1, 50ms).empty()) << "nothing more than the replies";

    const auto trace = TraceOf(device, 4);
    ASSERT_EQ(trace.size(), 4u);
    EXPECT_EQ(trace[0].description, "unlock");
    EXPECT_EQ(trace[2].description, "read configuration -> " +
                                        std::to_string(GetParam().configuration_length) + " bytes");
    EXPECT_EQ(trace[3].description, "read cold junction -> -20.0");
}

INSTANTIATE_TEST_SUITE_P(Versions, RepliesByVersion,
                         testing::Values(VersionRow{"x_x_0_gives_11", {1, 0, 0}, 11},
                                         VersionRow{"x_x_1_gives_13", {1, 0, 1}, 13},
                                         VersionRow{"x_x_3_gives_14", {1, 0, 3}, 14},
                                         VersionRow{"x_x_7_gives_14", {2, 1, 7}, 14}),
                         kRowName);

struct LockRow {
    const char* name;
    bool require_unlock;
    Bytes before;  // sent before the version read
    bool lock_again;
    std::chrono::milliseconds pause;
    bool answered;
};
void PrintTo(const LockRow& row, std::ostream* out) {
    *out << row.name;
}

class Locking : public testing::TestWithParam<LockRow> {};

TEST_P(Locking, CommandsAreOnlyHonouredWhileUnlocked) {
    const LockRow& row = GetParam();
    sim::Options options;
    options.require_unlock = row.require_unlock;
    options.unlock_window = 300ms;
    sim::SimulatedTransmitter device(options);
    Port port(device.PortPath());
    port.Write(row.before);
    WaitUntilReceived(device, row.before.size());
    if (row.lock_again) device.Lock();
    std::this_thread::sleep_for(row.pause);

    port.Write(kReadVersion);
    const Bytes reply = port.Read(3, row.answered ? 2000ms : 100ms);
    EXPECT_EQ(reply.size(), row.answered ? 3u : 0u) << row.name;
    WaitUntilReceived(device, row.before.size() + 1);
    if (!row.answered) {
        EXPECT_EQ(device.Trace().back().description, "ignored 'C' (locked)");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sentences, Locking,
    testing::Values(LockRow{"AnUnlockedDeviceAnswers", true, kUnlock, false, 0ms, true},
                    LockRow{"ADeviceThatNeverHeardThePreambleIgnores", true, {}, false, 0ms, false},
                    LockRow{"ALoneUnlockByteDoesNotUnlock", true, {0xAA, 0x00}, false, 0ms, false},
                    LockRow{"LockForgetsThePreamble", true, kUnlock, true, 0ms, false},
                    LockRow{"ThePreambleWearsOffAfterItsWindow", true, kUnlock, false, 400ms,
                            false},
                    LockRow{"ADeviceWithoutTheLockAnswersAnyway", false, {}, false, 0ms, true}),
    kRowName);

TEST(SimulatedTransmitter,
     WriteConfigurationStoresAllFourteenBytesEvenWhenThePayloadLooksLikeCommands) {
    sim::SimulatedTransmitter device;
    Port port(device.PortPath());
    const Bytes frame{0x44, 0x08, 0xAA, 0xAA, 0x80, 0x43, 0x01, 0, 0, 0, 0, 0x01, 0x00, 0x01};
    port.Write(kUnlock);
    port.Write(frame);
    port.Write(kReadConfiguration);

    EXPECT_EQ(port.Read(14), frame);
    const auto stored = device.Configuration();
    EXPECT_EQ(Bytes(stored.begin(), stored.end()), frame);
    const auto trace = TraceOf(device, 3);
    ASSERT_EQ(trace.size(), 3u);
    EXPECT_EQ(trace[1].description,
              "write configuration: sensor 8 upper 0xAAAA lower 0x8043 output 1 fault 0 cj 1");
    EXPECT_TRUE(trace[1].replied.empty());
}

struct AdjustRow {
    const char* name;
    Bytes frame;
    std::int16_t error_tenths;
    std::int16_t reported_tenths;
    Bytes reply;
    const char* description;
};
void PrintTo(const AdjustRow& row, std::ostream* out) {
    *out << row.name;
}

class Adjusting : public testing::TestWithParam<AdjustRow> {};

TEST_P(Adjusting, TheAdjustedTemperatureIsReportedWithTheDevicesError) {
    const AdjustRow& row = GetParam();
    sim::Options options;
    options.adjustment_error_tenths = row.error_tenths;
    sim::SimulatedTransmitter device(options);
    Port port(device.PortPath());
    port.Write(kUnlock);
    port.Write(row.frame);
    port.Write(kReadColdJunction);

    EXPECT_EQ(port.Read(2), row.reply);
    EXPECT_EQ(device.ColdJunctionTenths(), row.reported_tenths);
    const auto trace = TraceOf(device, 3);
    ASSERT_EQ(trace.size(), 3u);
    EXPECT_EQ(trace[1].description, row.description);
}

INSTANTIATE_TEST_SUITE_P(Temperatures, Adjusting,
                         testing::Values(AdjustRow{"Plus23_5",
                                                   {0x46, 0x00, 0xEB, 0},
                                                   0,
                                                   235,
                                                   {0x00, 0xEB},
                                                   "adjust cold junction to 23.5"},
                                         AdjustRow{"Minus5_2",
                                                   {0x46, 0xFF, 0xCC, 0},
                                                   0,
                                                   -52,
                                                   {0xFF, 0xCC},
                                                   "adjust cold junction to -5.2"},
                                         AdjustRow{"Plus23_5OffByPlus1_5",
                                                   {0x46, 0x00, 0xEB, 0},
                                                   15,
                                                   250,
                                                   {0x00, 0xFA},
                                                   "adjust cold junction to 23.5"},
                                         AdjustRow{"Minus5_2OffByMinus1_0",
                                                   {0x46, 0xFF, 0xCC, 0},
                                                   -10,
                                                   -62,
                                                   {0xFF, 0xC2},
                                                   "adjust cold junction to -5.2"}),
                         kRowName);

struct FaultRow {
    const char* name;
    sim::Fault fault;
    std::chrono::milliseconds first_patience;  // how long the first read waits
    Bytes first_reply;                         // what it gets for a version read
};
void PrintTo(const FaultRow& row, std::ostream* out) {
    *out << row.name;
}

class Faults : public testing::TestWithParam<FaultRow> {};

TEST_P(Faults, TheNextReplyMisbehavesAndTheOneAfterIsRight) {
    const FaultRow& row = GetParam();
    sim::SimulatedTransmitter device;
    Port port(device.PortPath());
    port.Write(kUnlock);
    device.InjectFault(row.fault);

    port.Write(kReadVersion);
    EXPECT_EQ(port.Read(3, row.first_patience), row.first_reply);
    port.Write(kReadVersion);
    if (row.fault == sim::Fault::kLateReply) {
        // The late reply comes after all, ahead of the prompt one.
        EXPECT_EQ(port.Read(3), (Bytes{1, 0, 3}));
    }
    EXPECT_EQ(port.Read(3), (Bytes{1, 0, 3}));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, Faults,
    testing::Values(FaultRow{"Silence", sim::Fault::kSilence, 150ms, {}},
                    FaultRow{"ShortReply", sim::Fault::kShortReply, 150ms, {1, 0}},
                    FaultRow{"Garbage", sim::Fault::kGarbage, 2000ms, {0x5A, 0x5A, 0x5A}},
                    FaultRow{"LateReply", sim::Fault::kLateReply, 100ms, {}}),
    kRowName);

TEST(SimulatedTransmitter, AVanishedPortFailsTheOpenDescriptorAndNewOpenings) {
    sim::SimulatedTransmitter device;
    Port port(device.PortPath());
    port.Write(kUnlock);
    device.InjectFault(sim::Fault::kVanish);
    port.Write(kReadVersion);

    EXPECT_LE(port.ReadOnceAfterPoll(), 0);
    EXPECT_FALSE(device.IsRunning());
    EXPECT_FALSE(Port(device.PortPath()).IsOpen());
}

TEST(SimulatedTransmitter, ReceivedBytesAreRecordedInOrderWithNonDecreasingStamps) {
    sim::SimulatedTransmitter device;
    Port port(device.PortPath());
    const auto before = Clock::now();
    port.Write({0xAA, 0xAA});
    std::this_thread::sleep_for(5ms);
    port.Write({0x30, 0x45});
    port.Read(2);

    EXPECT_EQ(device.ReceivedValues(), (Bytes{0xAA, 0xAA, 0x30, 0x45}));
    const auto received = device.ReceivedBytes();
    ASSERT_EQ(received.size(), 4u);
    EXPECT_GE(received.front().when, before);
    for (std::size_t i = 1; i < received.size(); ++i) {
        EXPECT_LE(received[i - 1].when, received[i].when);
    }
    EXPECT_EQ(device.Trace()[1].description, "unknown byte 0x30");
}

TEST(SimulatedTransmitter, TwoOpeningsBackToBackCarryPreambleAndCommand) {
    sim::SimulatedTransmitter device;
    Port(device.PortPath()).Write(kUnlock);
    Port second(device.PortPath());
    second.Write(kReadVersion);
    EXPECT_EQ(second.Read(3), (Bytes{1, 0, 3}));
}

TEST(SimulatedTransmitter, AStalledFrameIsDroppedAndTheNextCommandStandsOnItsOwn) {
    sim::SimulatedTransmitter device;
    Port port(device.PortPath());
    port.Write(kUnlock);
    port.Write({0x44, 0x07, 0x01});
    std::this_thread::sleep_for(300ms);
    port.Write(kReadVersion);

    EXPECT_EQ(port.Read(3), (Bytes{1, 0, 3}));
    const auto trace = TraceOf(device, 3);
    ASSERT_EQ(trace.size(), 3u);
    EXPECT_EQ(trace[1].description, "incomplete 'D' frame (3 of 14 bytes)");
    EXPECT_EQ(device.Configuration()[1], 0x03) << "the stored configuration is untouched";
}

}  // namespace
