// The reading operations end to end: a click on the main window's button, the two openings of
// the simulated port, and what the window shows afterwards.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#include "app/operation_state.h"
#include "device/protocol.h"
#include "resources/control_ids.h"
#include "resources/texts.h"
#include "serial/port_discovery.h"
#include "serial/response_reader.h"
#include "tests/operations/device_rig.h"

namespace {

using namespace std::chrono_literals;

constexpr std::uint8_t kPreambleByte = 0xAA;
// The device stamps a byte when its thread gets round to reading it; between two openings of
// the port that can be a little after the byte arrived.
constexpr auto kArrivalStampLag = 20ms;

// The handler sends the preamble in an opening of its own; the worker sends the command in a
// second opening, after waiting at least 500 ms.
void ExpectPreambleThenCommand(const DeviceRig& rig, std::uint8_t command) {
    EXPECT_EQ(rig.Received(), (std::vector<std::uint8_t>{kPreambleByte, kPreambleByte, command}));
    const auto preamble = rig.LastArrivalOf(kPreambleByte);
    const auto sent = rig.LastArrivalOf(command);
    ASSERT_TRUE(preamble && sent);
    EXPECT_GE(*sent - *preamble, 500ms - kArrivalStampLag);
}

// Both openings, the handler's and the worker's, announce themselves in both message lines.
Texts StatusAfterOpenings(std::initializer_list<std::u16string_view> rest) {
    Texts texts{std::u16string(texts::kPortOpened), std::u16string(texts::kPortOpened)};
    for (std::u16string_view text : rest) texts.emplace_back(text);
    return texts;
}

// ---------------------------------------------------------------------------------------------
// Read configuration

using Frame = std::array<std::uint8_t, 14>;
// K, -50 ... 300, 0-20 mA, high fault level.
constexpr Frame kTypeKMinus50To300{0x44, 3, 0x01, 0x5E, 0x80, 0x32, 1, 0, 0, 0, 0, 1, 1, 0};
// PT100, 0 ... 850, 0-20 mA, low fault level.
constexpr Frame kPt100To850{0x44, 1, 0x03, 0x52, 0x00, 0x00, 1, 0, 0, 0, 0, 1, 0, 0};
// K, -50 ... 300, 4-20 mA, high fault level.
constexpr Frame kTypeK420High{0x44, 3, 0x01, 0x5E, 0x80, 0x32, 1, 0, 0, 0, 0, 0, 1, 0};
// Code 5 (PT1000), 0 ... 300, and output type and fault level bytes that mean nothing.
constexpr Frame kPt1000OddBytes{0x44, 5, 0x01, 0x2C, 0x00, 0x00, 1, 0, 0, 0, 0, 2, 7, 0};

struct ReadConfigurationCase {
    const char* name;
    std::array<std::uint8_t, 3> firmware;  // as an earlier version read left it
    Frame configuration;
    std::optional<std::u16string_view> sensor_type;
    std::optional<std::u16string_view> upper;
    std::optional<std::u16string_view> lower;
    std::optional<std::u16string_view> lower_sign;
    std::optional<std::u16string_view> fault;  // nullopt: DetailLine keeps the openings' text
    std::optional<std::u16string_view> status;  // nullopt: the progress dots stay
};

void PrintTo(const ReadConfigurationCase& row, std::ostream* out) { *out << row.name; }

const ReadConfigurationCase kReadConfigurationCases[] = {
    {.name = "firmware_x_x_0_short_reply_shows_range_but_no_output_type_or_fault_level",
     .firmware = {1, 0, 0}, .configuration = kTypeKMinus50To300,
     .sensor_type = SensorTypes[3].readback_text, .upper = u"300", .lower = u"50",
     .lower_sign = texts::kSignMinus, .fault = std::nullopt,
     .status = texts::kSensorReadNoOutputType},
    {.name = "firmware_x_x_1_thirteen_bytes_show_0_20mA_and_low_fault_level",
     .firmware = {1, 0, 1}, .configuration = kPt100To850,
     .sensor_type = SensorTypes[1].readback_text, .upper = u"850", .lower = u"0",
     .lower_sign = texts::kSignPlus, .fault = texts::kFaultLow, .status = texts::kSensorRead020},
    {.name = "firmware_x_x_3_fourteen_bytes_show_4_20mA_and_high_fault_level",
     .firmware = {2, 1, 3}, .configuration = kTypeK420High,
     .sensor_type = SensorTypes[3].readback_text, .upper = u"300", .lower = u"50",
     .lower_sign = texts::kSignMinus, .fault = texts::kFaultHigh, .status = texts::kSensorRead420},
    {.name = "meaningless_output_and_fault_bytes_leave_both_lines_as_they_were",
     .firmware = {1, 0, 2}, .configuration = kPt1000OddBytes,
     .sensor_type = SensorTypes[5].readback_text, .upper = u"300", .lower = u"0",
     .lower_sign = texts::kSignPlus, .fault = std::nullopt, .status = std::nullopt},
    {.name = "firmware_x_x_7_is_never_read_and_ends_in_the_sensor_read_error",
     .firmware = {1, 0, 7}, .configuration = kTypeK420High,
     .sensor_type = std::nullopt, .upper = std::nullopt, .lower = std::nullopt,
     .lower_sign = std::nullopt, .fault = std::nullopt, .status = texts::kSensorReadError},
};

class ReadConfiguration : public testing::TestWithParam<ReadConfigurationCase> {};

TEST_P(ReadConfiguration, ShowsTheDevicesConfiguration) {
    const ReadConfigurationCase& row = GetParam();
    sim::Options options;
    options.version = row.firmware;
    options.configuration = row.configuration;
    DeviceRig rig(options);
    ASSERT_TRUE(rig.device.IsRunning());
    std::copy(row.firmware.begin(), row.firmware.end(), VersionBuffer);
    // Left by an earlier, longer reply: a short reply must not be judged by it.
    SensorReplyBuffer[kFrameFaultLevel] = 1;

    ASSERT_TRUE(rig.ClickAndWait(kIdReadConfiguration));

    ExpectPreambleThenCommand(rig, kCommandReadConfiguration);
    ExpectBox(rig, kIdSensorTypeReadback, row.sensor_type);
    ExpectBox(rig, kIdUpperSignReadback,
              row.upper ? std::optional(texts::kSignPlus) : std::nullopt);
    ExpectBox(rig, kIdUpperLimitReadback, row.upper);
    ExpectBox(rig, kIdLowerLimitReadback, row.lower);
    ExpectBox(rig, kIdLowerSignReadback, row.lower_sign);
    Texts detail = StatusAfterOpenings({});
    if (row.fault) detail.emplace_back(*row.fault);
    ExpectTexts(rig, DetailLine, detail);
    ExpectTexts(rig, StatusLine,
                row.status ? StatusAfterOpenings({texts::kDots2, *row.status})
                           : StatusAfterOpenings({texts::kDots2}));
    ExpectIdle();
}

INSTANTIATE_TEST_SUITE_P(Firmware, ReadConfiguration, testing::ValuesIn(kReadConfigurationCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Read firmware version

struct ReadVersionCase {
    const char* name;
    sim::Fault fault;
    std::array<std::uint8_t, 3> earlier;  // VersionBuffer before the read
    std::array<std::u16string_view, 3> boxes;  // 1048, 1050, 1049
    std::u16string_view status;
};

void PrintTo(const ReadVersionCase& row, std::ostream* out) { *out << row.name; }

// The device runs firmware 2.5.3 in every case.
const ReadVersionCase kReadVersionCases[] = {
    {"a_reply_shows_the_three_numbers", sim::Fault::kNone, {0, 0, 0}, {u"2", u"5", u"3"},
     texts::kVersionRead},
    {"silence_is_an_error_and_the_boxes_show_the_earlier_bytes", sim::Fault::kSilence, {1, 0, 9},
     {u"1", u"0", u"9"}, texts::kVersionReadError},
    {"a_short_reply_is_an_error_written_over_the_earlier_bytes", sim::Fault::kShortReply,
     {1, 0, 9}, {u"2", u"5", u"9"}, texts::kVersionReadError},
};

class ReadVersion : public testing::TestWithParam<ReadVersionCase> {};

TEST_P(ReadVersion, FillsTheVersionBoxesWhateverTheReply) {
    const ReadVersionCase& row = GetParam();
    sim::Options options;
    options.version = {2, 5, 3};
    DeviceRig rig(options);
    ASSERT_TRUE(rig.device.IsRunning());
    std::copy(row.earlier.begin(), row.earlier.end(), VersionBuffer);
    for (int box : {kIdVersionByte0, kIdVersionByte1, kIdVersionByte2}) rig.window.Type(box, u"?");
    rig.device.InjectFault(row.fault);

    ASSERT_TRUE(rig.ClickAndWait(kIdReadVersion));

    ExpectPreambleThenCommand(rig, kCommandReadVersion);
    ExpectTexts(rig, kIdVersionByte0, {std::u16string(row.boxes[0])});
    ExpectTexts(rig, kIdVersionByte1, {std::u16string(row.boxes[1])});
    ExpectTexts(rig, kIdVersionByte2, {std::u16string(row.boxes[2])});
    ExpectTexts(rig, StatusLine, StatusAfterOpenings({texts::kDots2, row.status}));
    ExpectIdle();
}

INSTANTIATE_TEST_SUITE_P(Replies, ReadVersion, testing::ValuesIn(kReadVersionCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Connect, FindsThePortShowsItAndReadsTheVersion) {
    sim::Options options;
    options.version = {3, 2, 1};
    DeviceRig rig(options);
    ASSERT_TRUE(rig.device.IsRunning());
    SetPortName(u"");
    const std::u16string port = rig.PortPath();
    SetPortListSource([port] { return std::optional(std::vector<std::u16string>{port}); });

    ASSERT_TRUE(rig.ClickAndWait(kIdConnect));

    ExpectTexts(rig, kIdPortNameBox, {port});
    ExpectPreambleThenCommand(rig, kCommandReadVersion);
    ExpectBox(rig, kIdVersionByte0, u"3");
    ExpectBox(rig, kIdVersionByte1, u"2");
    ExpectBox(rig, kIdVersionByte2, u"1");
    ExpectTexts(rig, StatusLine, StatusAfterOpenings({texts::kDots2, texts::kVersionRead}));
    EXPECT_TRUE(rig.window.Messages().empty()) << Lines(rig.window.Messages());
    ExpectIdle();
}

// ---------------------------------------------------------------------------------------------
// Read cold-junction temperature

// The read time-out of the cold-junction reply is 20 ms a byte plus 500 ms, 540 ms; the worker
// looks after 500 ms. A reply this late lands between the two: the delay counts from when the
// device has the command, so the reply can never come before the worker looks, and it is kept
// near that end so that a slow machine still gets it in before the time-out.
constexpr auto kLateButInTime = 505ms;

struct ColdJunctionCase {
    const char* name;
    std::int16_t tenths;
    sim::Fault fault;
    std::optional<std::u16string_view> box;  // nullopt: box 1047 keeps what was typed
    std::u16string_view status;
};

void PrintTo(const ColdJunctionCase& row, std::ostream* out) { *out << row.name; }

const ColdJunctionCase kColdJunctionCases[] = {
    {"a_reading_is_shown_with_its_tenths", 234, sim::Fault::kNone, u"23.4",
     texts::kColdJunctionRead},
    {"minus_twenty_whole_keeps_its_point", -200, sim::Fault::kNone, u"-20.",
     texts::kColdJunctionRead},
    {"a_reply_after_the_wait_but_inside_the_read_time_out_is_shown", 255, sim::Fault::kLateReply,
     u"25.5", texts::kColdJunctionRead},
    {"silence_is_a_read_error", 234, sim::Fault::kSilence, std::nullopt,
     texts::kColdJunctionReadError},
};

class ReadColdJunction : public testing::TestWithParam<ColdJunctionCase> {};

TEST_P(ReadColdJunction, ShowsTheTemperatureOrTheReadError) {
    const ColdJunctionCase& row = GetParam();
    sim::Options options;
    options.cold_junction_tenths = row.tenths;
    options.late_reply_delay = kLateButInTime;
    DeviceRig rig(options);
    ASSERT_TRUE(rig.device.IsRunning());
    rig.window.Type(kIdColdJunctionTemperature, u"17.0");
    rig.device.InjectFault(row.fault);

    ASSERT_TRUE(rig.ClickAndWait(kIdReadColdJunction));

    ExpectPreambleThenCommand(rig, kCommandReadColdJunction);
    if (row.box) {
        ExpectTexts(rig, kIdColdJunctionTemperature, {std::u16string(*row.box)});
    } else {
        ExpectBox(rig, kIdColdJunctionTemperature, std::nullopt);
        EXPECT_EQ(Utf8(rig.window.Text(kIdColdJunctionTemperature)), "17.0");
    }
    ExpectTexts(rig, StatusLine, StatusAfterOpenings({texts::kDots2, row.status}));
    ExpectIdle();
}

INSTANTIATE_TEST_SUITE_P(Replies, ReadColdJunction, testing::ValuesIn(kColdJunctionCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------

TEST(CommandsDuringAnOperation, AreLostNotQueued) {
    DeviceRig rig;
    ASSERT_TRUE(rig.device.IsRunning());

    rig.Click(kIdReadColdJunction);
    ASSERT_EQ(ReadyFlag.load(), 0);
    for (int identity : {kIdReadConfiguration, kIdReadVersion, kIdConnect, kIdUnlock,
                         kIdReadColdJunction}) {
        rig.Click(identity);
    }
    ASSERT_TRUE(WaitUntilReady());
    // Long enough for any operation a queued click could have started to send its command.
    std::this_thread::sleep_for(1500ms);

    ExpectPreambleThenCommand(rig, kCommandReadColdJunction);
    ExpectTexts(rig, StatusLine, StatusAfterOpenings({texts::kDots2, texts::kColdJunctionRead}));
    EXPECT_TRUE(rig.window.TextsOf(kIdPortNameBox).empty());
    ExpectIdle();
}

}  // namespace
