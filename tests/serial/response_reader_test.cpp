// The reader started by a monitored opening, with the test playing the device on a bare
// pseudo-terminal.

#include "serial/response_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/operation_state.h"
#include "serial/port_discovery.h"
#include "serial/port_link.h"
#include "tests/serial/pty_pair.h"
#include "tests/support/recording_window.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A reply whose range bytes read as upper 300, lower 50, negative; the rest numbered so that
// every byte is told apart.
Bytes SensorReply(std::size_t length) {
    Bytes reply{0xA0, 0x03, 0x01, 0x5E, 0x80, 0x32, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0x00, 0x01, 0xAD};
    reply.resize(length);
    return reply;
}

enum class Buffer { kSensor, kColdJunction, kVersion };

Bytes Contents(Buffer buffer) {
    switch (buffer) {
        case Buffer::kSensor:
            return Bytes(std::begin(SensorReplyBuffer), std::end(SensorReplyBuffer));
        case Buffer::kColdJunction:
            return Bytes(std::begin(ColdJunctionBuffer), std::end(ColdJunctionBuffer));
        case Buffer::kVersion:
            return Bytes(std::begin(VersionBuffer), std::end(VersionBuffer));
    }
    return {};
}

class ResponseReaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetOperationState();
        ResetReceiveBuffers();
        SetPortName(u"");
        ASSERT_TRUE(pty.IsOpen());
    }

    // One monitored opening with `expected` in LinkState; the device answers `reply` once the
    // opening is done; returns when the reader has finished.
    void ReadOnce(std::uint16_t expected, const Bytes& reply) {
        LinkState = expected;
        HandleSlot slot;
        ASSERT_TRUE(OpenPortMonitored(slot, window, pty.PortName()));
        pty.DeviceWrite(reply);
        WaitForReader(slot);
    }

    PtyPair pty;
    RecordingWindow window;
};

// ---------------------------------------------------------------------------------------------
// A complete reply is taken whole, terminated, and reported; what the reader is not owed stays
// on the line.

struct GoodReplyCase {
    const char* name;
    std::uint16_t expected;
    std::uint8_t version_byte2;
    Bytes offered;
    Buffer buffer;
    std::size_t taken;
    friend void PrintTo(const GoodReplyCase& row, std::ostream* os) { *os << row.name; }
};

class GoodReplyTest : public ResponseReaderTest,
                      public ::testing::WithParamInterface<GoodReplyCase> {};

TEST_P(GoodReplyTest, TakesItsLengthAndReportsIt) {
    const GoodReplyCase& row = GetParam();
    VersionBuffer[2] = row.version_byte2;
    ReadOnce(row.expected, row.offered);

    EXPECT_EQ(ReplyOk.load(), 1);
    EXPECT_EQ(LinkState.load(), kLinkIdle);
    Bytes wanted(row.offered.begin(), row.offered.begin() + static_cast<long>(row.taken));
    wanted.push_back(0);
    const Bytes stored = Contents(row.buffer);
    EXPECT_EQ(Bytes(stored.begin(), stored.begin() + static_cast<long>(row.taken) + 1), wanted);
    EXPECT_EQ(pty.WaitForUnreadInput(row.offered.size() - row.taken),
              row.offered.size() - row.taken);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, GoodReplyTest,
    ::testing::Values(
        GoodReplyCase{"SensorReplyBeforeAnyVersionIs11Bytes", kExpectSensorReply, 0,
                      SensorReply(14), Buffer::kSensor, 11},
        GoodReplyCase{"SensorReplyOfVersionX_X_1Is13Bytes", kExpectSensorReply, 1, SensorReply(14),
                      Buffer::kSensor, 13},
        GoodReplyCase{"SensorReplyOfVersionX_X_2Is13Bytes", kExpectSensorReply, 2, SensorReply(14),
                      Buffer::kSensor, 13},
        GoodReplyCase{"SensorReplyOfVersionX_X_3Is14Bytes", kExpectSensorReply, 3, SensorReply(14),
                      Buffer::kSensor, 14},
        GoodReplyCase{"ColdJunctionReplyIs2Bytes",
                      kExpectColdJunctionReply,
                      0,
                      {0xFF, 0x38, 0x77},
                      Buffer::kColdJunction,
                      2},
        GoodReplyCase{
            "VersionReplyIs3Bytes", kExpectVersionReply, 0, {1, 0, 3, 0x77}, Buffer::kVersion, 3}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ResponseReaderTest, AGoodSensorReplyIsDecodedIntoTheLimitTexts) {
    VersionBuffer[2] = 3;
    ReadOnce(kExpectSensorReply, SensorReply(14));
    EXPECT_EQ(UpperLimitText, u"300");
    EXPECT_EQ(LowerLimitText, u"50");
    EXPECT_TRUE(LowerLimitNegative);
}

TEST_F(ResponseReaderTest, An11ByteReplyStoresItsTerminatorAndLeavesByte12Alone) {
    std::fill(std::begin(SensorReplyBuffer), std::end(SensorReplyBuffer), 0x77);
    VersionBuffer[2] = 0;
    ReadOnce(kExpectSensorReply, SensorReply(11));
    ASSERT_EQ(ReplyOk.load(), 1);
    EXPECT_EQ(SensorReplyBuffer[10], 0xAA);
    EXPECT_EQ(SensorReplyBuffer[11], 0);
    EXPECT_EQ(SensorReplyBuffer[12], 0x77);
}

// ---------------------------------------------------------------------------------------------
// A reader that is owed nothing ends at once, reads nothing and touches nothing.

struct NothingOwedCase {
    const char* name;
    std::uint16_t handed;
    std::uint8_t version_byte2;
    friend void PrintTo(const NothingOwedCase& row, std::ostream* os) { *os << row.name; }
};

class NothingOwedTest : public ResponseReaderTest,
                        public ::testing::WithParamInterface<NothingOwedCase> {};

TEST_P(NothingOwedTest, LeavesTheLineTheFlagsAndTheBuffersAlone) {
    VersionBuffer[2] = GetParam().version_byte2;
    ReplyOk = 0;
    const Bytes sensor_before = Contents(Buffer::kSensor);
    ReadOnce(GetParam().handed, SensorReply(14));

    EXPECT_EQ(ReplyOk.load(), 0);
    EXPECT_EQ(LinkState.load(), GetParam().handed);
    EXPECT_EQ(Contents(Buffer::kSensor), sensor_before);
    EXPECT_EQ(pty.WaitForUnreadInput(14), 14u);
}

INSTANTIATE_TEST_SUITE_P(
    Handed, NothingOwedTest,
    ::testing::Values(NothingOwedCase{"SensorReplyOfVersionX_X_4", kExpectSensorReply, 4},
                      NothingOwedCase{"SensorReplyOfVersionX_X_7", kExpectSensorReply, 7},
                      NothingOwedCase{"SensorReplyOfVersionX_X_255", kExpectSensorReply, 255},
                      NothingOwedCase{"Idle", kLinkIdle, 0},
                      NothingOwedCase{"ReadConfigurationCode", kOpReadConfiguration, 0},
                      NothingOwedCase{"ReadVersionCode", kOpReadVersion, 0},
                      NothingOwedCase{"VerifyAdjustmentCode", kOpVerifyAdjustment, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// A reply that does not come whole within the read time-out is bad: whatever part came lies over
// the earlier content, and the limit texts stay as they were.

struct BadReplyCase {
    const char* name;
    std::uint16_t expected;
    std::uint8_t version_byte2;
    Bytes offered;
    Buffer buffer;
    friend void PrintTo(const BadReplyCase& row, std::ostream* os) { *os << row.name; }
};

class BadReplyTest : public ResponseReaderTest,
                     public ::testing::WithParamInterface<BadReplyCase> {};

TEST_P(BadReplyTest, IsReportedAndKeepsTheEarlierTexts) {
    const BadReplyCase& row = GetParam();
    VersionBuffer[2] = row.version_byte2;
    std::fill(std::begin(SensorReplyBuffer), std::end(SensorReplyBuffer), 0x77);
    std::fill(std::begin(ColdJunctionBuffer), std::end(ColdJunctionBuffer), 0x77);
    UpperLimitText = u"1300";
    LowerLimitText = u"0";
    LowerLimitNegative = false;
    ReplyOk = 1;

    ReadOnce(row.expected, row.offered);

    EXPECT_EQ(ReplyOk.load(), 0);
    EXPECT_EQ(LinkState.load(), kLinkIdle);
    EXPECT_EQ(UpperLimitText, u"1300");
    EXPECT_EQ(LowerLimitText, u"0");
    EXPECT_FALSE(LowerLimitNegative);
    const Bytes stored = Contents(row.buffer);
    Bytes wanted = row.offered;
    wanted.resize(stored.size(), 0x77);
    EXPECT_EQ(stored, wanted);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, BadReplyTest,
    ::testing::Values(BadReplyCase{"SensorReplyOf12BytesWhen13AreExpected", kExpectSensorReply, 1,
                                   SensorReply(12), Buffer::kSensor},
                      BadReplyCase{"ColdJunctionReplyOfOneByte",
                                   kExpectColdJunctionReply,
                                   0,
                                   {0xFF},
                                   Buffer::kColdJunction},
                      BadReplyCase{
                          "NoSensorReplyAtAll", kExpectSensorReply, 0, {}, Buffer::kSensor}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ResponseReaderTest, ClosingWaitsForTheReaderInsteadOfPullingThePortFromUnderIt) {
    LinkState = kExpectColdJunctionReply;
    HandleSlot slot;
    ASSERT_TRUE(OpenPortMonitored(slot, window, pty.PortName()));
    ClosePort(slot);
    EXPECT_FALSE(slot.port.IsOpen());
    EXPECT_EQ(ReplyOk.load(), 0);
    EXPECT_EQ(LinkState.load(), kLinkIdle);
}

}  // namespace
