#include "device/text_conversion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

std::string Trace(std::u16string_view text) {
    return ::testing::PrintToString(std::u16string(text));
}

TEST(ParseLeadingInteger, TakesWhiteSpaceSignAndDigitsUpToTheFirstOtherCharacter) {
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
    const std::pair<std::u16string_view, std::int32_t> cases[] = {
        {u"123", 123},
        {u"007", 7},
        {u"   42", 42},
        {u"\t\r\n 7", 7},
        {u"-15", -15},
        {u"+15", 15},
        {u"12abc", 12},
        {u"1 2", 1},
        {u"", 0},
        {u"abc", 0},
        {u"-", 0},
        {u"+-3", 0},
        {u"- 3", 0},
        {u"в", 0},
        {u"２", 0},  // a full-width digit is not a digit
        {u"2147483647", kMax},
        {u"2147483648", kMax},
        {u"99999999999999999999999", kMax},
        {u"-2147483648", kMin},
        {u"-2147483649", kMin},
        {u"-99999999999999999999999", kMin},
    };
    for (const auto& [text, value] : cases) {
        EXPECT_EQ(ParseLeadingInteger(text), value) << Trace(text);
    }
}

TEST(TextToByteNarrowing, KeepsTwentyAsciiUnitsAndStopsAtTheFirstOtherUnit) {
    const std::pair<std::u16string_view, std::string_view> cases[] = {
        {u"", ""},
        {u"23.57", "23.57"},
        {u"123456789012345678901234", "12345678901234567890"},
        {u"в", ""},  // U+0432 would otherwise become '2'
        {u"2в5", "2"},
        {u"1.5°C", "1.5"},
        {u"\x7F"
         u"1",
         "\x7F"
         "1"},
    };
    for (const auto& [text, bytes] : cases) {
        SCOPED_TRACE(Trace(text));
        NarrowedText expected{};
        std::copy(bytes.begin(), bytes.end(), expected.begin());
        EXPECT_EQ(TextToByteNarrowing(text), expected);
    }
}

TEST(ParseLeadingDecimal, ReadsTheLongestNumberAtTheStartWithAPointWhateverTheLocale) {
    const double kInf = std::numeric_limits<double>::infinity();
    const std::pair<std::u16string_view, double> cases[] = {
        {u"23.57", 23.57},
        {u"23,57", 23.0},
        {u"-5.2", -5.2},
        {u"+3.5", 3.5},
        {u"25.", 25.0},
        {u".5", 0.5},
        {u" \t25.4 ", 25.4},
        {u" 1e2", 100.0},
        {u"1E+2", 100.0},
        {u"1.5e-1", 0.15},
        {u"1e", 1.0},
        {u"1e+", 1.0},
        {u"12abc", 12.0},
        {u"2в5", 2.0},
        {u"12345678901234567890123", 12345678901234567890.0},
        {u"1e400", kInf},
        {u"-1e400", -kInf},
        {u"1e-400", 0.0},
        {u"", 0.0},
        {u"-", 0.0},
        {u".", 0.0},
        {u"-.", 0.0},
        {u"abc", 0.0},
        {u"--5", 0.0},
        {u"+-5", 0.0},
        {u"inf", 0.0},
        {u"nan", 0.0},
        {u"0x1A", 0.0},
    };
    for (const auto& [text, value] : cases) {
        EXPECT_EQ(ParseLeadingDecimal(TextToByteNarrowing(text)), value) << Trace(text);
    }
}

TEST(ParseWholeDecimal, AcceptsOneDecimalNumberWithNothingButBlanksAround) {
    const std::pair<std::u16string_view, double> accepted[] = {
        {u"23.57", 23.57}, {u"  -5.2", -5.2},
        {u"25.", 25.0},    {u"25.  ", 25.0},
        {u"+7", 7.0},      {u".5", 0.5},
        {u"-0", 0.0},      {u"12345678901234567890", 12345678901234567890.0},
    };
    for (const auto& [text, value] : accepted) {
        EXPECT_EQ(ParseWholeDecimal(TextToByteNarrowing(text)), value) << Trace(text);
    }
    const std::u16string_view refused[] = {
        u"", u"   ", u"abc", u"23,57", u"1.2.3", u"12abc", u"-", u".", u"+-1", u"1 2", u"1e2", u"в",
    };
    for (std::u16string_view text : refused) {
        EXPECT_EQ(ParseWholeDecimal(TextToByteNarrowing(text)), std::nullopt) << Trace(text);
    }
}

TEST(FormatColdJunction, ShowsTenthsBelowAThousandAndWholeDegreesFromThere) {
    const std::pair<double, std::u16string_view> cases[] = {
        {25.0, u"25."},      {-20.0, u"-20."},    {0.0, u"0."},        {-0.0, u"0."},
        {23.4, u"23.4"},     {-0.5, u"-0.5"},     {0.1, u"0.1"},       {-0.1, u"-0.1"},
        {0.3, u"0.3"},       {999.9, u"999.9"},   {-999.9, u"-999.9"}, {1000.0, u"1000"},
        {-1000.0, u"-1000"}, {1234.5, u"1235"},   {-1234.5, u"-1235"}, {1234.4, u"1234"},
        {3276.7, u"3277"},   {-3276.8, u"-3277"},
    };
    for (const auto& [celsius, text] : cases)
        EXPECT_EQ(FormatColdJunction(celsius), text) << celsius;
}

TEST(FormatColdJunction, EveryDeviceReadingBelowAThousandReadsBackAsItsTenths) {
    for (int tenths = -9999; tenths <= 9999; ++tenths) {
        const std::u16string text = FormatColdJunction(tenths / 10.0);
        ASSERT_NE(text.find(u'.'), std::u16string::npos) << tenths;
        ASSERT_EQ(std::llround(ParseLeadingDecimal(TextToByteNarrowing(text)) * 10), tenths)
            << Trace(text);
    }
}

}  // namespace
