// The worker's side of Write configuration and Verify adjustment: their handlers set LinkState
// and start the worker after sending on an opening of their own, which the Unlock command
// stands in for here.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "app/operation_state.h"
#include "device/operation_worker.h"
#include "device/protocol.h"
#include "resources/control_ids.h"
#include "resources/texts.h"
#include "serial/port_discovery.h"
#include "serial/response_reader.h"
#include "tests/operations/device_rig.h"

namespace {

using namespace std::chrono_literals;

constexpr std::uint8_t kPreambleByte = 0xAA;

void StartWorkerFor(DeviceRig& rig, std::uint16_t operation) {
    LinkState = operation;
    StartWorkerThread(rig.window);
}

TEST(WriteConfiguration, SendsTheWholeFrameAfterItsWaitAndReportsCompletion) {
    DeviceRig rig;
    ASSERT_TRUE(rig.device.IsRunning());
    ASSERT_TRUE(rig.ClickAndWait(kIdUnlock));
    // J, -50 ... 300 (span 350), 0-20 mA, low fault level, no compensation.
    ConfigFrame = {0x44, 8, 0x01, 0x5E, 0x80, 0x32, 0x01, 0, 0, 0, 0, 1, 0, 1};

    const auto started = std::chrono::steady_clock::now();
    StartWorkerFor(rig, kOpWriteConfiguration);
    ASSERT_TRUE(WaitUntilReady());

    std::vector<std::uint8_t> expected{kPreambleByte, kPreambleByte};
    expected.insert(expected.end(), ConfigFrame.begin(), ConfigFrame.end());
    EXPECT_EQ(rig.Received(), expected);
    EXPECT_EQ(rig.device.Configuration(),
              (std::array<std::uint8_t, 14>{0x44, 8, 0x01, 0x5E, 0x80, 0x32, 0x01, 0, 0, 0, 0,
                                            1, 0, 1}));
    const auto sent = rig.LastArrivalOf(kCommandWriteConfiguration);
    ASSERT_TRUE(sent);
    EXPECT_GE(*sent - started, 500ms);
    ExpectTexts(rig, StatusLine,
                {std::u16string(texts::kPortOpened), std::u16string(texts::kPortOpened),
                 std::u16string(texts::kDots2), std::u16string(texts::kDots4),
                 std::u16string(texts::kWriteDone)});
    ExpectIdle();
}

TEST(WriteConfiguration, WithoutAPortReportsFailureNotCompletion) {
    DeviceRig rig;
    SetPortName(u"");

    StartWorkerFor(rig, kOpWriteConfiguration);
    ASSERT_TRUE(WaitUntilReady());

    std::u16string open_failed(texts::kOpenFailed);
    open_failed.erase(open_failed.find(u"%s"), 2);
    EXPECT_EQ(rig.window.Messages(), (Texts{open_failed, std::u16string(texts::kPortNotOpen)}))
        << Lines(rig.window.Messages());
    ExpectTexts(rig, StatusLine,
                {std::u16string(texts::kDots2), std::u16string(texts::kDots4),
                 std::u16string(texts::kWriteFailed)});
    EXPECT_TRUE(rig.Received().empty());
    ExpectIdle();
}

struct VerifyAdjustmentCase {
    const char* name;
    std::u16string_view wanted;  // box 1047
    std::int16_t device_tenths;
    sim::Fault fault;
    std::u16string_view verdict;
};

void PrintTo(const VerifyAdjustmentCase& row, std::ostream* out) { *out << row.name; }

const VerifyAdjustmentCase kVerifyAdjustmentCases[] = {
    {"less_than_a_degree_above_the_device_succeeds", u"25.4", 245, sim::Fault::kNone,
     texts::kAdjustSucceeded},
    {"less_than_a_degree_below_the_device_succeeds", u"24.6", 255, sim::Fault::kNone,
     texts::kAdjustSucceeded},
    {"a_degree_or_more_above_the_device_fails", u"30", 234, sim::Fault::kNone,
     texts::kAdjustFailedAbove},
    {"a_degree_below_the_device_fails", u"24.0", 250, sim::Fault::kNone,
     texts::kAdjustFailedBelow},
    // The buffer still holds an older reading that would pass.
    {"no_read_back_is_a_read_error_not_a_verdict", u"25.4", 254, sim::Fault::kSilence,
     texts::kColdJunctionReadError},
};

class VerifyAdjustment : public testing::TestWithParam<VerifyAdjustmentCase> {};

TEST_P(VerifyAdjustment, JudgesTheReadBackAgainstTheWantedTemperature) {
    const VerifyAdjustmentCase& row = GetParam();
    sim::Options options;
    options.cold_junction_tenths = row.device_tenths;
    DeviceRig rig(options);
    ASSERT_TRUE(rig.device.IsRunning());
    ASSERT_TRUE(rig.ClickAndWait(kIdUnlock));
    rig.window.Type(kIdColdJunctionTemperature, row.wanted);
    ColdJunctionBuffer[0] = 0x00;
    ColdJunctionBuffer[1] = 0xFE;  // 25.4
    rig.device.InjectFault(row.fault);

    const auto started = std::chrono::steady_clock::now();
    StartWorkerFor(rig, kOpVerifyAdjustment);
    ASSERT_TRUE(WaitUntilReady());

    EXPECT_EQ(rig.Received(), (std::vector<std::uint8_t>{kPreambleByte, kPreambleByte,
                                                         kCommandReadColdJunction}));
    const auto sent = rig.LastArrivalOf(kCommandReadColdJunction);
    ASSERT_TRUE(sent);
    EXPECT_GE(*sent - started, 5500ms);
    ExpectTexts(rig, StatusLine,
                {std::u16string(texts::kPortOpened), std::u16string(texts::kDots2),
                 std::u16string(texts::kDots3), std::u16string(texts::kDots4),
                 std::u16string(texts::kDots5), std::u16string(texts::kDots8),
                 std::u16string(texts::kPortOpened), std::u16string(texts::kDots2),
                 std::u16string(texts::kDots4), std::u16string(row.verdict)});
    ExpectIdle();
}

INSTANTIATE_TEST_SUITE_P(ReadBacks, VerifyAdjustment, testing::ValuesIn(kVerifyAdjustmentCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
