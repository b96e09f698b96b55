#include "device/protocol.h"

#include <gtest/gtest.h>

#include <vector>

#include "device/text_conversion.h"
#include "resources/texts.h"

namespace {

// What the frame puts on the wire in bytes 2 to 5, read back as a reply would carry them.
std::array<std::uint8_t, kMaxSensorReplyLength> WireBytes(const ConfigFrameSlots& frame) {
    std::array<std::uint8_t, kMaxSensorReplyLength> bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(frame[i] & 0xFF);
    return bytes;
}

struct RangeCase {
    std::int32_t upper;
    std::int32_t lower;
    bool negative;
    std::array<std::uint8_t, 4> wire;  // bytes 2 to 5
};

TEST(RangeEncoding, WorkedExamplesGoOutByteForByteAndReadBack) {
    const RangeCase cases[] = {
        {300, 50, true, {0x01, 0x5E, 0x80, 0x32}},  // -50 ... 300 carries the span 350
        {2320, 0, false, {0x09, 0x10, 0x00, 0x00}},
        {0, 200, true, {0x00, 0xC8, 0x80, 0xC8}},  // PT100 at its lowest
        {1370, 270, true, {0x06, 0x68, 0x81, 0x0E}},
        {850, 300, false, {0x03, 0x52, 0x01, 0x2C}},
    };
    for (const RangeCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.upper << (c.negative ? " / -" : " / +") << c.lower);
        ConfigFrameSlots frame = kConfigFrameStart;
        EncodeRange(frame, c.upper, c.lower, c.negative);
        const auto bytes = WireBytes(frame);
        EXPECT_EQ((std::array<std::uint8_t, 4>{bytes[2], bytes[3], bytes[4], bytes[5]}), c.wire);
        const DecodedRange back = DecodeRange(bytes.data());
        EXPECT_EQ(back.upper, c.upper);
        EXPECT_EQ(back.lower, c.lower);
        EXPECT_EQ(back.lower_negative, c.negative);
    }
}

TEST(RangeEncoding, TouchesOnlyTheRangeSlotsAndForgetsAnEarlierNegativeLimit) {
    ConfigFrameSlots frame = kConfigFrameStart;
    EncodeRange(frame, 300, 50, true);
    EncodeRange(frame, 300, 50, false);
    ConfigFrameSlots expected = kConfigFrameStart;
    expected[kFrameUpperHigh] = 0x01;
    expected[kFrameUpperLow] = 0x2C;
    expected[kFrameLowerHigh] = 0x00;
    expected[kFrameLowerLow] = 0x32;
    EXPECT_EQ(frame, expected);
}

struct DecodeCase {
    const char* what;
    std::array<std::uint8_t, 4> wire;  // bytes 2 to 5
    DecodedRange range;
};

TEST(RangeEncoding, ReadingIgnoresTheBitsTheDeviceDoesNotDefine) {
    const DecodeCase cases[] = {
        {"byte 2 high nibble is ignored", {0x39, 0x00, 0x00, 0x00}, {0x900, 0, false}},
        {"byte 4 bits 4-6 are ignored", {0x01, 0x00, 0x72, 0x05}, {0x100, 0x205, false}},
        {"bit 7 of byte 4 makes the upper field a span", {0xF1, 0x5E, 0xF0, 0x32}, {300, 50, true}},
        {"a span below the lower limit reads as a negative upper",
         {0x00, 0x10, 0x80, 0x20},
         {-16, 32, true}},
    };
    for (const DecodeCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::uint8_t reply[kMaxSensorReplyLength] = {0x42,      0x03,      c.wire[0],
                                                           c.wire[1], c.wire[2], c.wire[3]};
        const DecodedRange back = DecodeRange(reply);
        EXPECT_EQ(back.upper, c.range.upper);
        EXPECT_EQ(back.lower, c.range.lower);
        EXPECT_EQ(back.lower_negative, c.range.lower_negative);
    }
}

TEST(RangeEncoding, EveryAdmissibleRangeOfEverySensorTypeReadsBackAsEntered) {
    for (const SensorType& type : SensorTypes) {
        for (std::int32_t upper = 0; upper <= type.upper_max; ++upper) {
            auto round_trip = [&](std::int32_t lower, bool negative) {
                ConfigFrameSlots frame = kConfigFrameStart;
                EncodeRange(frame, upper, lower, negative);
                const auto bytes = WireBytes(frame);
                const DecodedRange back = DecodeRange(bytes.data());
                return back.upper == upper && back.lower == lower &&
                       back.lower_negative == negative;
            };
            for (std::int32_t lower = 0; lower <= upper; ++lower) {
                ASSERT_TRUE(round_trip(lower, false))
                    << "code " << int{type.code} << ": " << upper << " / +" << lower;
            }
            for (std::int32_t lower = 0; lower <= type.negative_lower_max; ++lower) {
                ASSERT_TRUE(round_trip(lower, true))
                    << "code " << int{type.code} << ": " << upper << " / -" << lower;
            }
        }
    }
}

struct SensorRow {
    std::uint8_t code;
    std::int32_t upper_max;
    std::int32_t negative_lower_max;
    std::u16string_view lower_refusal;
    std::u16string_view confirmation;
};

TEST(SensorTypes, EachListEntryCarriesItsCodeLimitsAndTexts) {
    const SensorRow rows[kSensorTypeCount] = {
        {0, 2320, 0, texts::kLowerLimitRefused, u"Ты выбрала. wre3-25"},
        {1, 850, 200, texts::kLowerLimitRefusedPt100, u"Ты выбрала. PT100 ТС"},
        {2, 1765, 50, texts::kLowerLimitRefused, u"Ты выбрала. S ТП "},
        {3, 1370, 270, texts::kLowerLimitRefused, u"Ты выбрала. K ТП "},
        {6, 400, 270, texts::kLowerLimitRefused, u"Ты выбрала. T ТП "},
        {5, 300, 50, texts::kLowerLimitRefused, u"Ты выбрала. PT1000 ТС"},
        {7, 150, 50, texts::kLowerLimitRefused, u"Ты выбрала. Cu50 ТС"},
        {4, 1330, 270, texts::kLowerLimitRefused, u"Ты выбрала. N ТП "},
        {8, 1200, 210, texts::kLowerLimitRefused, u"Ты выбрала. J ТП "},
    };
    for (std::size_t index = 0; index < kSensorTypeCount; ++index) {
        SCOPED_TRACE(::testing::Message() << "list index " << index);
        const SensorType& type = SensorTypes[index];
        EXPECT_EQ(type.code, rows[index].code);
        EXPECT_EQ(type.upper_max, rows[index].upper_max);
        EXPECT_EQ(type.negative_lower_max, rows[index].negative_lower_max);
        EXPECT_EQ(type.lower_refusal, rows[index].lower_refusal);
        EXPECT_EQ(type.confirmation, rows[index].confirmation);
        EXPECT_EQ(ReadbackTextForCode(type.code), type.readback_text);
    }
    EXPECT_EQ(SensorTypes[5].list_text, u"      ");
}

TEST(SensorTypes, ReadBackTextIsFoundByCodeNotByListPosition) {
    const std::pair<int, std::optional<std::u16string_view>> cases[] = {
        {0, u"Датчик:wre5-26\r\n"},   {4, u"Датчик:N Тип ТП \r\n"}, {5, u"Датчик:         \r\n"},
        {6, u"Датчик:T Тип ТП \r\n"}, {8, u"Датчик:J Тип ТП \r\n"}, {9, std::nullopt},
        {0xFF, std::nullopt},
    };
    for (const auto& [code, text] : cases) {
        SCOPED_TRACE(::testing::Message() << "code " << code);
        EXPECT_EQ(ReadbackTextForCode(static_cast<std::uint8_t>(code)), text);
    }
}

TEST(Replies, SensorReplyLengthFollowsTheFirmwareVersion) {
    const std::pair<int, std::size_t> cases[] = {{0, 11}, {1, 13}, {2, 13},  {3, 14},
                                                 {4, 0},  {5, 0},  {0xFF, 0}};
    for (const auto& [version, length] : cases) {
        EXPECT_EQ(SensorReplyLength(static_cast<std::uint8_t>(version)), length)
            << "version byte " << version;
    }
}

TEST(Replies, ColdJunctionIsSignedTenthsHighByteFirst) {
    struct Case {
        std::uint8_t high, low;
        std::int16_t tenths;
    };
    const Case cases[] = {
        {0xFF, 0x38, -200}, {0x00, 0xEB, 235},   {0x00, 0x00, 0},      {0xFF, 0xFF, -1},
        {0x01, 0x00, 256},  {0x7F, 0xFF, 32767}, {0x80, 0x00, -32768},
    };
    for (const Case& c : cases) {
        const std::uint8_t reply[kColdJunctionReplyLength] = {c.high, c.low};
        EXPECT_EQ(DecodeColdJunctionTenths(reply), c.tenths) << int{c.high} << " " << int{c.low};
    }
}

TEST(AdjustFrame, CarriesTheTypedTemperatureInTenthsTruncatedTowardZero) {
    struct Case {
        std::u16string_view typed;
        AdjustFrameSlots frame;
    };
    const Case cases[] = {
        {u"23.57", {0x46, 0x00, 0xEB, 0x00}},
        {u"-5.2", {0x46, 0xFF, 0xCC, 0x00}},
        {u"25.", {0x46, 0x00, 0xFA, 0x00}},
        {u"-0.05", {0x46, 0x00, 0x00, 0x00}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(std::u16string(c.typed)));
        const std::optional<double> celsius = ParseWholeDecimal(TextToByteNarrowing(c.typed));
        ASSERT_TRUE(celsius.has_value());
        EXPECT_EQ(BuildAdjustFrame(static_cast<std::int32_t>(*celsius * 10)), c.frame);
    }
}

TEST(AdjustFrame, KeepsOnlyTheLowSixteenBitsOfALargeValue) {
    EXPECT_EQ(BuildAdjustFrame(0x12345), (AdjustFrameSlots{0x46, 0x23, 0x45, 0x00}));
    EXPECT_EQ(BuildAdjustFrame(-0x12345), (AdjustFrameSlots{0x46, 0xDC, 0xBB, 0x00}));
}

}  // namespace
