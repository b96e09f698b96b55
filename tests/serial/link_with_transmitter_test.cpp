// The link against the simulated transmitter, which knows the protocol on its own terms: the
// preamble in one opening, the command in a second, and the reply the second opening's reader
// takes, as the operations use them but without their waits.

#include <gtest/gtest.h>

#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "app/operation_state.h"
#include "device/protocol.h"
#include "serial/port_discovery.h"
#include "serial/port_link.h"
#include "serial/response_reader.h"
#include "sim/simulated_transmitter.h"
#include "tests/support/recording_window.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

enum class Buffer { kSensor, kColdJunction, kVersion };

Bytes Contents(Buffer buffer, std::size_t count) {
    switch (buffer) {
        case Buffer::kSensor:
            return Bytes(std::begin(SensorReplyBuffer), std::begin(SensorReplyBuffer) + count);
        case Buffer::kColdJunction:
            return Bytes(std::begin(ColdJunctionBuffer), std::begin(ColdJunctionBuffer) + count);
        case Buffer::kVersion:
            return Bytes(std::begin(VersionBuffer), std::begin(VersionBuffer) + count);
    }
    return {};
}

struct ExchangeCase {
    const char* name;
    sim::Fault fault;
    std::uint8_t version_byte2;  // what the program believes the firmware is
    std::uint16_t expected;
    std::uint16_t command;
    int reply_ok;
    Buffer buffer;
    Bytes stored;  // with its terminator; empty: not looked at
    friend void PrintTo(const ExchangeCase& row, std::ostream* os) { *os << row.name; }
};

class LinkWithTransmitterTest : public ::testing::TestWithParam<ExchangeCase> {
  protected:
    void SetUp() override {
        ResetOperationState();
        ResetReceiveBuffers();
        ASSERT_TRUE(device.IsRunning());
        const std::string path = device.PortPath();
        SetPortName(std::u16string(path.begin(), path.end()));
    }
    void TearDown() override { SetPortName(u""); }

    sim::SimulatedTransmitter device;
    RecordingWindow window;
};

TEST_P(LinkWithTransmitterTest, OneExchangeEndsInTheReaderVerdict) {
    const ExchangeCase& row = GetParam();
    VersionBuffer[2] = row.version_byte2;
    device.InjectFault(row.fault);
    {
        HandleSlot unlock;
        UnlockHandler(window, unlock);
    }
    LinkState = row.expected;
    {
        HandleSlot exchange;
        OpenPortMonitored(exchange, window, PortNameView());
        SendFrame(1, &row.command, exchange, window);
        WaitForReader(exchange);
    }

    EXPECT_EQ(ReplyOk.load(), row.reply_ok);
    EXPECT_EQ(LinkState.load(), kLinkIdle);
    if (!row.stored.empty()) {
        EXPECT_EQ(Contents(row.buffer, row.stored.size()), row.stored);
    }
    EXPECT_EQ(device.ReceivedValues(), (Bytes{0xAA, 0xAA, static_cast<std::uint8_t>(row.command)}));
    if (row.fault != sim::Fault::kVanish) {
        EXPECT_TRUE(window.Messages().empty()) << Utf8(window.Messages().front());
    }
}

// The device's defaults: firmware 1.0.3, range -50 ... 300 on sensor code 3, 23.4 degrees.
INSTANTIATE_TEST_SUITE_P(Exchanges, LinkWithTransmitterTest,
                         ::testing::Values(ExchangeCase{"VersionRead",
                                                        sim::Fault::kNone,
                                                        0,
                                                        kExpectVersionReply,
                                                        kCommandReadVersion,
                                                        1,
                                                        Buffer::kVersion,
                                                        {1, 0, 3, 0}},
                                           ExchangeCase{"ColdJunctionRead",
                                                        sim::Fault::kNone,
                                                        0,
                                                        kExpectColdJunctionReply,
                                                        kCommandReadColdJunction,
                                                        1,
                                                        Buffer::kColdJunction,
                                                        {0x00, 0xEA, 0}},
                                           ExchangeCase{"SensorReplyOfFirmwareX_X_3",
                                                        sim::Fault::kNone,
                                                        3,
                                                        kExpectSensorReply,
                                                        kCommandReadConfiguration,
                                                        1,
                                                        Buffer::kSensor,
                                                        {0x44, 0x03, 0x01, 0x5E, 0x80, 0x32, 0x01,
                                                         0, 0, 0, 0, 0, 1, 0, 0}},
                                           ExchangeCase{"ALateReplyWithinTheTimeOutStillCounts",
                                                        sim::Fault::kLateReply,
                                                        0,
                                                        kExpectVersionReply,
                                                        kCommandReadVersion,
                                                        1,
                                                        Buffer::kVersion,
                                                        {1, 0, 3, 0}},
                                           ExchangeCase{"AShortReplyIsBad",
                                                        sim::Fault::kShortReply,
                                                        0,
                                                        kExpectVersionReply,
                                                        kCommandReadVersion,
                                                        0,
                                                        Buffer::kVersion,
                                                        {1, 0, 0, 0}},
                                           ExchangeCase{"SilenceIsBad",
                                                        sim::Fault::kSilence,
                                                        0,
                                                        kExpectColdJunctionReply,
                                                        kCommandReadColdJunction,
                                                        0,
                                                        Buffer::kColdJunction,
                                                        {0, 0, 0}},
                                           ExchangeCase{"APortThatVanishesIsBad",
                                                        sim::Fault::kVanish,
                                                        0,
                                                        kExpectVersionReply,
                                                        kCommandReadVersion,
                                                        0,
                                                        Buffer::kVersion,
                                                        {}}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
