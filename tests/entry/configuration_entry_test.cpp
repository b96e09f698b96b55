#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/command_dispatcher.h"
#include "app/operation_state.h"
#include "device/protocol.h"
#include "resources/control_ids.h"
#include "resources/texts.h"
#include "tests/entry/entry_fixture.h"

namespace {

constexpr int kPlus = 0;
constexpr int kMinus = 1;
constexpr int kNoSign = -1;
constexpr int kNoType = -1;
constexpr int kTypeK = 3;

// Bytes 1 to 5 of the configuration frame: sensor code, upper field, lower field.
using RangeBytes = std::array<std::uint16_t, 5>;

RangeBytes Range(std::uint8_t code, int upper, int lower, bool negative) {
    // Negative: the upper field carries the span, the lower field the magnitude with bit 15.
    const int upper_field = negative ? upper + lower : upper;
    const int lower_field = negative ? (lower | 0x8000) : lower;
    return {code, static_cast<std::uint16_t>(upper_field >> 8),
            static_cast<std::uint16_t>(upper_field & 0xFF),
            static_cast<std::uint16_t>(lower_field >> 8),
            static_cast<std::uint16_t>(lower_field & 0xFF)};
}

RangeBytes FrameRange() {
    return {ConfigFrame[1], ConfigFrame[2], ConfigFrame[3], ConfigFrame[4], ConfigFrame[5]};
}

std::array<std::uint8_t, 14> WrittenFrame(const RangeBytes& range, std::uint8_t output_type = 0,
                                          std::uint8_t fault_level = 0,
                                          std::uint8_t compensation = 0) {
    std::array<std::uint8_t, 14> frame{0x44, 0, 0, 0, 0, 0, 0x01, 0, 0, 0, 0, 0, 0, 0};
    for (std::size_t i = 0; i < range.size(); ++i) frame[i + 1] = static_cast<std::uint8_t>(range[i]);
    frame[11] = output_type;
    frame[12] = fault_level;
    frame[13] = compensation;
    return frame;
}

// What the device holds before a test writes: nothing a correct write could leave there.
constexpr std::array<std::uint8_t, 14> kUnrelatedConfiguration{0x44, 0x5A, 0x5A, 0x5A, 0x5A,
                                                                0x5A, 0x5A, 0x5A, 0x5A, 0x5A,
                                                                0x5A, 0x5A, 0x5A, 0x5A};

class ConfigureFixture : public EntryFixture {
protected:
    void SetUp() override {
        EntryFixture::SetUp();
        device.SetConfiguration(kUnrelatedConfiguration);
    }

    void Enter(int type, std::u16string_view upper, int sign, std::u16string_view lower) {
        window.Select(kIdSensorTypeList, type);
        window.Type(kIdUpperLimitEntry, upper);
        window.Select(kIdLowerSignList, sign);
        window.Type(kIdLowerLimitEntry, lower);
    }
};

// The measuring ranges as the technician's documentation gives them.
struct TypeLimits {
    const char* name;
    int index;
    std::uint8_t code;
    int upper_max;
    int negative_lower_max;
    std::u16string_view lower_refusal;
};
const TypeLimits kTypeLimits[] = {
    {"Wre5", 0, 0, 2320, 0, texts::kLowerLimitRefused},
    {"Pt100", 1, 1, 850, 200, texts::kLowerLimitRefusedPt100},
    {"S", 2, 2, 1765, 50, texts::kLowerLimitRefused},
    {"K", 3, 3, 1370, 270, texts::kLowerLimitRefused},
    {"T", 4, 6, 400, 270, texts::kLowerLimitRefused},
    {"Pt1000", 5, 5, 300, 50, texts::kLowerLimitRefused},
    {"Cu50", 6, 7, 150, 50, texts::kLowerLimitRefused},
    {"N", 7, 4, 1330, 270, texts::kLowerLimitRefused},
    {"J", 8, 8, 1200, 210, texts::kLowerLimitRefused},
};

struct ConfigureRow {
    std::string name;
    int type;
    std::u16string upper;
    int sign;
    std::u16string lower;
    // Accepted: bytes 1 to 5 of the frame that is written.
    std::optional<RangeBytes> written;
    // Refused: the message, and whether the unlock preamble had already gone out.
    std::u16string_view refusal;
    bool after_preamble = false;
};

// Test names in the output, not the bytes of the row.
void PrintTo(const ConfigureRow& row, std::ostream* out) { *out << row.name; }

ConfigureRow Accepted(std::string name, int type, std::u16string upper, int sign,
                      std::u16string lower, RangeBytes written) {
    return {std::move(name), type, std::move(upper), sign, std::move(lower), written, {}, false};
}

ConfigureRow Refused(std::string name, int type, std::u16string upper, int sign,
                     std::u16string lower, std::u16string_view message, bool after_preamble) {
    return {std::move(name), type,    std::move(upper), sign, std::move(lower), std::nullopt,
            message,         after_preamble};
}

std::u16string Decimal(int value) {
    const std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

std::vector<ConfigureRow> ConfigureRows() {
    std::vector<ConfigureRow> rows;
    for (const TypeLimits& t : kTypeLimits) {
        const std::string type = t.name;
        rows.push_back(Accepted(type + "_TakesItsWholeRangeDownToMinusItsNegativeMaximum", t.index,
                                Decimal(t.upper_max), kMinus, Decimal(t.negative_lower_max),
                                Range(t.code, t.upper_max, t.negative_lower_max, true)));
        rows.push_back(Refused(type + "_RefusesOneDegreeAboveItsUpperMaximum", t.index,
                               Decimal(t.upper_max + 1), kPlus, u"0", texts::kUpperLimitRefused,
                               true));
        rows.push_back(Refused(type + "_RefusesOneDegreeBelowItsNegativeMaximum", t.index, u"0",
                               kMinus, Decimal(t.negative_lower_max + 1), t.lower_refusal, true));
    }

    const auto k = [](int upper, int lower, bool negative) { return Range(3, upper, lower, negative); };
    rows.push_back(Accepted("MinusLowerMayExceedUpper_TheOrderIsCheckedOnlyForPlus", kTypeK, u"100",
                            kMinus, u"150", k(100, 150, true)));
    rows.push_back(Accepted("PlusLowerEqualToUpper", kTypeK, u"300", kPlus, u"300",
                            k(300, 300, false)));
    rows.push_back(Accepted("NoSignGoesOutAsPlus", kTypeK, u"300", kNoSign, u"50",
                            k(300, 50, false)));

    const auto before = [](std::string name, std::u16string upper, int sign, std::u16string lower,
                           std::u16string_view message) {
        return Refused(std::move(name), kTypeK, std::move(upper), sign, std::move(lower), message,
                       false);
    };
    rows.push_back(before("PlusLowerAboveUpper", u"100", kPlus, u"150", texts::kLowerLimitRefused));
    rows.push_back(before("NoSignLowerAboveUpper", u"100", kNoSign, u"150",
                          texts::kLowerLimitRefused));
    rows.push_back(before("UpperWithLettersAfterTheDigits", u"300abc", kPlus, u"0",
                          texts::kUpperLimitRefused));
    rows.push_back(before("UpperWithALeadingBlank", u" 300", kPlus, u"0", texts::kUpperLimitRefused));
    rows.push_back(before("UpperWithATrailingBlank", u"300 ", kPlus, u"0", texts::kUpperLimitRefused));
    rows.push_back(before("UpperEmpty", u"", kPlus, u"0", texts::kUpperLimitRefused));
    rows.push_back(before("UpperWithAPlusSign", u"+300", kPlus, u"0", texts::kUpperLimitRefused));
    rows.push_back(before("UpperWithALeadingZero", u"0300", kPlus, u"0", texts::kUpperLimitRefused));
    rows.push_back(before("UpperNegative", u"-5", kPlus, u"0", texts::kUpperLimitRefused));
    rows.push_back(before("UpperBeyond32Bits", u"4294967296", kPlus, u"0",
                          texts::kUpperLimitRefused));
    rows.push_back(before("LowerWithLetters", u"300", kMinus, u"50x", texts::kLowerLimitRefused));
    rows.push_back(before("LowerEmpty", u"300", kMinus, u"", texts::kLowerLimitRefused));
    rows.push_back(before("LowerTypedNegative", u"300", kPlus, u"-50", texts::kLowerLimitRefused));
    rows.push_back(before("LowerTypedNegativeWithMinusSelected", u"300", kMinus, u"-50",
                          texts::kLowerLimitRefused));
    rows.push_back(before("LowerBeyond32BitsWithoutSign", u"300", kNoSign, u"99999999999",
                          texts::kLowerLimitRefused));
    rows.push_back(Refused("NoSensorType", kNoType, u"300", kMinus, u"50",
                           texts::kNoSensorTypeSelected, false));
    return rows;
}

class ConfigureEntry : public ConfigureFixture,
                       public ::testing::WithParamInterface<ConfigureRow> {};

TEST_P(ConfigureEntry, IsWrittenOrRefusedAsTheSensorsRangeAllows) {
    const ConfigureRow& row = GetParam();
    Enter(row.type, row.upper, row.sign, row.lower);

    CommandDispatcher(window, kIdConfigure);

    if (row.written) {
        EXPECT_EQ(ReadyFlag.load(), 0) << "the write was not started";
        EXPECT_TRUE(window.Messages().empty());
        EXPECT_EQ(FrameRange(), *row.written);
        const std::vector<std::u16string> details = window.TextsOf(DetailLine);
        ASSERT_GE(details.size(), 2u);
        EXPECT_EQ(details[0], texts::kPortOpened);
        EXPECT_EQ(details[1], SensorTypes[static_cast<std::size_t>(row.type)].confirmation);

        ASSERT_TRUE(WaitUntilReady());
        EXPECT_EQ(device.Configuration(), WrittenFrame(*row.written));
        EXPECT_EQ(window.Text(StatusLine), texts::kWriteDone);
        return;
    }

    EXPECT_EQ(window.Messages(), std::vector<std::u16string>{std::u16string(row.refusal)});
    EXPECT_EQ(ReadyFlag.load(), 1);
    EXPECT_EQ(LinkState.load(), kLinkIdle);
    EXPECT_EQ(FrameRange(), (RangeBytes{0, 0, 0, 0, 0}));
    if (row.after_preamble) {
        EXPECT_EQ(ReceivedAfterQuiet(kPreambleOnly.size()), kPreambleOnly);
    } else {
        EXPECT_TRUE(window.TextsOf(StatusLine).empty()) << "the port was opened";
        EXPECT_TRUE(ReceivedAfterQuiet(0).empty());
    }
    EXPECT_EQ(device.Configuration(), kUnrelatedConfiguration);
}

INSTANTIATE_TEST_SUITE_P(Table, ConfigureEntry, ::testing::ValuesIn(ConfigureRows()),
                         [](const auto& info) { return info.param.name; });

TEST_F(ConfigureFixture, WritesTheKRangeFromMinus50To300WithTheListSettings) {
    Enter(kTypeK, u"300", kMinus, u"50");
    window.Select(kIdOutputTypeList, 1);               // "0-20mA"
    window.Select(kIdFaultLevelList, 1);               // "Низкий"
    window.Select(kIdColdJunctionCompensationList, 1);  // "Нет!"

    CommandDispatcher(window, kIdConfigure);
    ASSERT_TRUE(WaitUntilReady());

    const std::vector<std::uint8_t> frame{0x44, 0x03, 0x01, 0x5E, 0x80, 0x32, 0x01,
                                          0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01};
    std::vector<std::uint8_t> expected = kPreambleOnly;
    expected.insert(expected.end(), frame.begin(), frame.end());
    EXPECT_EQ(ReceivedAfterQuiet(expected.size()), expected);
}

TEST_F(ConfigureFixture, ListsWithoutASelectionKeepTheBytesAnEarlierEntrySet) {
    // A refusal in the range check comes after the list settings were taken.
    Enter(kTypeK, u"1371", kPlus, u"0");
    window.Select(kIdOutputTypeList, 1);
    window.Select(kIdFaultLevelList, 0);  // "Высокий" is 1 on the wire
    window.Select(kIdColdJunctionCompensationList, 1);
    CommandDispatcher(window, kIdConfigure);
    ASSERT_EQ(window.Messages(), std::vector<std::u16string>{std::u16string(texts::kUpperLimitRefused)});
    EXPECT_EQ(ConfigFrame[11], 1);
    EXPECT_EQ(ConfigFrame[12], 1);
    EXPECT_EQ(ConfigFrame[13], 1);

    window.Type(kIdUpperLimitEntry, u"1370");
    window.Select(kIdOutputTypeList, -1);
    window.Select(kIdFaultLevelList, -1);
    window.Select(kIdColdJunctionCompensationList, -1);
    CommandDispatcher(window, kIdConfigure);
    ASSERT_TRUE(WaitUntilReady());
    EXPECT_EQ(device.Configuration(), WrittenFrame(Range(3, 1370, 0, false), 1, 1, 1));
}

struct TrackingRow {
    const char* name;
    int box;
    std::u16string text;
    std::uint16_t high;
    std::uint16_t low;
};

void PrintTo(const TrackingRow& row, std::ostream* out) { *out << row.name; }

const TrackingRow kTrackingRows[] = {
    {"Upper300", kIdUpperLimitEntry, u"300", 0x01, 0x2C},
    {"UpperNegativeKeepsItsSignInTheHighSlot", kIdUpperLimitEntry, u"-300", 0xFFFE, 0xD4},
    {"UpperDigitsBeforeLettersCount", kIdUpperLimitEntry, u"12abc", 0x00, 0x0C},
    {"UpperLeadingBlanksAreSkipped", kIdUpperLimitEntry, u"  4095", 0x0F, 0xFF},
    {"UpperEmptyIsZero", kIdUpperLimitEntry, u"", 0x00, 0x00},
    {"UpperBeyond16BitsKeepsItsHighBits", kIdUpperLimitEntry, u"70000", 0x0111, 0x70},
    {"Lower50", kIdLowerLimitEntry, u"50", 0x00, 0x32},
    {"LowerTypedNegativeLosesTheNegativeBit", kIdLowerLimitEntry, u"-300", 0x7E, 0xD4},
    {"LowerBeyond15BitsLosesBit15", kIdLowerLimitEntry, u"40000", 0x1C, 0x40},
};

class LimitTracking : public EntryFixture, public ::testing::WithParamInterface<TrackingRow> {};

TEST_P(LimitTracking, PutsTheTypedValueIntoItsTwoSlotsOnly) {
    const TrackingRow& row = GetParam();
    window.Type(row.box, row.text);

    CommandDispatcher(window, row.box);

    ConfigFrameSlots expected = kConfigFrameStart;
    const std::size_t high = row.box == kIdUpperLimitEntry ? kFrameUpperHigh : kFrameLowerHigh;
    expected[high] = row.high;
    expected[high + 1] = row.low;
    EXPECT_EQ(ConfigFrame, expected);
    EXPECT_EQ(ReadyFlag.load(), 1);
    EXPECT_TRUE(window.Events().empty());
    EXPECT_TRUE(ReceivedAfterQuiet(0).empty());
}

INSTANTIATE_TEST_SUITE_P(Table, LimitTracking, ::testing::ValuesIn(kTrackingRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ConfigureFixture, TypingInTheLimitBoxesWhileAWriteRunsLeavesTheFrameAlone) {
    Enter(kTypeK, u"300", kMinus, u"50");
    CommandDispatcher(window, kIdConfigure);
    ASSERT_EQ(ReadyFlag.load(), 0);
    const ConfigFrameSlots written = ConfigFrame;

    window.Type(kIdUpperLimitEntry, u"999");
    CommandDispatcher(window, kIdUpperLimitEntry);
    window.Type(kIdLowerLimitEntry, u"7");
    CommandDispatcher(window, kIdLowerLimitEntry);
    EXPECT_EQ(ConfigFrame, written);

    ASSERT_TRUE(WaitUntilReady());
    EXPECT_EQ(ConfigFrame, written);
    EXPECT_EQ(device.Configuration(), WrittenFrame(Range(3, 300, 50, true)));

    // Once the write is over the boxes are followed again.
    CommandDispatcher(window, kIdUpperLimitEntry);
    EXPECT_EQ(ConfigFrame[kFrameUpperHigh], 0x03);
    EXPECT_EQ(ConfigFrame[kFrameUpperLow], 0xE7);
}

}  // namespace
