#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/command_dispatcher.h"
#include "app/operation_state.h"
#include "device/access_code.h"
#include "device/cold_junction_adjustment.h"
#include "resources/control_ids.h"
#include "resources/texts.h"
#include "tests/entry/entry_fixture.h"

namespace {

const std::u16string kAccessCode = u"8163";

struct TenthsRow {
    const char* name;
    std::u16string text;
    std::optional<std::int16_t> tenths;
};

// Test names in the output, not the bytes of the row.
void PrintTo(const TenthsRow& row, std::ostream* out) { *out << row.name; }

const TenthsRow kTenthsRows[] = {
    {"TwoDecimalsAreTruncated", u"23.57", 235},
    {"NegativeWithHyphenMinus", u"-5.2", -52},
    {"TrailingPointAsBox1047ShowsAReading", u"25.", 250},
    {"PlusSign", u"+7", 70},
    {"PointThreeIsThreeTenths", u"0.3", 3},
    {"OnePointOne", u"1.1", 11},
    {"TwoPoint675", u"2.675", 26},
    {"NegativeTruncatesTowardZero", u"-0.7", -7},
    {"SmallNegativeBecomesZero", u"-0.05", 0},
    {"PowerOfTwoTenths", u"409.6", 4096},
    {"MoreNinesThanADoubleHolds", u"0.99999999999999999", 9},
    {"LeadingBlanks", u"  12.5", 125},
    {"TrailingBlanks", u"12.5   ", 125},
    {"HighestThatFits", u"3276.7", 32767},
    {"LowestThatFits", u"-3276.8", -32768},
    {"OnlyTheFirst20CharactersCount", u"23.57000000000000000xyz", 235},
    {"Empty", u"", std::nullopt},
    {"Letters", u"abc", std::nullopt},
    {"DigitsThenLetters", u"12abc", std::nullopt},
    {"CommaAsSeparator", u"23,57", std::nullopt},
    {"TwoNumbers", u"12 3", std::nullopt},
    {"OneTenthAboveTheRange", u"3276.8", std::nullopt},
    {"AHundredthAboveTheRange", u"3276.71", std::nullopt},
    {"OneTenthBelowTheRange", u"-3276.9", std::nullopt},
    {"TwentyOneDigits", u"123456789012345678901", std::nullopt},
    {"NumberOnlyAfterTwentyBlanks", u"                    5", std::nullopt},
    {"TypographicMinus", u"\u22125.2", std::nullopt},
    {"DigitsThenCyrillic", u"25\u0432", std::nullopt},
    {"DigitsThenCelsiusSign", u"25\u00b0C", std::nullopt},
};

class WantedTenths : public ::testing::TestWithParam<TenthsRow> {};

TEST_P(WantedTenths, FollowTheTypedDecimalDigits) {
    EXPECT_EQ(WantedColdJunctionTenths(GetParam().text), GetParam().tenths);
}

INSTANTIATE_TEST_SUITE_P(Table, WantedTenths, ::testing::ValuesIn(kTenthsRows),
                         [](const auto& info) { return std::string(info.param.name); });

class AdjustFixture : public EntryFixture {
protected:
    void Adjust(std::optional<std::u16string> access_entry, std::u16string_view temperature) {
        window.QueueAccessEntry(std::move(access_entry));
        window.Type(kIdColdJunctionTemperature, temperature);
        CommandDispatcher(window, kIdAdjust);
    }

    void ExpectNothingSentAndNoOperation() {
        EXPECT_EQ(ReadyFlag.load(), 1);
        EXPECT_EQ(LinkState.load(), kLinkIdle);
        EXPECT_TRUE(window.TextsOf(StatusLine).empty()) << "the port was opened";
        EXPECT_TRUE(ReceivedAfterQuiet(0).empty());
    }
};

struct RefusedValueRow {
    const char* name;
    std::u16string text;
};

void PrintTo(const RefusedValueRow& row, std::ostream* out) { *out << row.name; }

const RefusedValueRow kRefusedValueRows[] = {
    {"Empty", u""},
    {"Letters", u"abc"},
    {"CommaAsSeparator", u"23,57"},
    {"TwoNumbers", u"12 3"},
    {"AboveTheRange", u"3276.8"},
    {"BelowTheRange", u"-3276.9"},
    {"TwentyOneDigits", u"123456789012345678901"},
};

class RefusedTemperature : public AdjustFixture,
                           public ::testing::WithParamInterface<RefusedValueRow> {};

TEST_P(RefusedTemperature, IsReportedAndNothingIsSent) {
    Adjust(kAccessCode, GetParam().text);

    EXPECT_EQ(window.Messages(),
              std::vector<std::u16string>{std::u16string(texts::kBadColdJunctionValue)});
    ExpectNothingSentAndNoOperation();
}

INSTANTIATE_TEST_SUITE_P(Table, RefusedTemperature, ::testing::ValuesIn(kRefusedValueRows),
                         [](const auto& info) { return std::string(info.param.name); });

struct AccessRow {
    const char* name;
    std::optional<std::u16string> entry;
};

void PrintTo(const AccessRow& row, std::ostream* out) { *out << row.name; }

const AccessRow kNoAccessRows[] = {
    {"WrongCode", u"1234"},
    {"EmptyEntry", u""},
    {"CodeWithAnotherDigit", u"81630"},
    {"DialogClosed", std::nullopt},
};

class WithoutAccess : public AdjustFixture, public ::testing::WithParamInterface<AccessRow> {};

TEST_P(WithoutAccess, AdjustEndsSilently) {
    Adjust(GetParam().entry, u"23.57");

    ASSERT_EQ(window.Events().size(), 1u);
    EXPECT_EQ(window.Events()[0].kind, RecordingWindow::EventKind::kAccessDialog);
    EXPECT_EQ(AccessGranted.load(), 0);
    ExpectNothingSentAndNoOperation();
}

INSTANTIATE_TEST_SUITE_P(Table, WithoutAccess, ::testing::ValuesIn(kNoAccessRows),
                         [](const auto& info) { return std::string(info.param.name); });

struct AdjustRow {
    const char* name;
    std::u16string text;
    std::vector<std::uint8_t> frame;
    std::int16_t tenths;
};

void PrintTo(const AdjustRow& row, std::ostream* out) { *out << row.name; }

const AdjustRow kAdjustRows[] = {
    {"TwoDecimals", u"23.57", {0x46, 0x00, 0xEB, 0x00}, 235},
    {"Negative", u"-5.2", {0x46, 0xFF, 0xCC, 0x00}, -52},
    {"ReadingWithTrailingPoint", u"25.", {0x46, 0x00, 0xFA, 0x00}, 250},
};

class AcceptedAdjustment : public AdjustFixture,
                           public ::testing::WithParamInterface<AdjustRow> {};

TEST_P(AcceptedAdjustment, SendsTheFrameAfterThePreambleAndVerifiesIt) {
    const AdjustRow& row = GetParam();
    Adjust(kAccessCode, row.text);
    EXPECT_EQ(ReadyFlag.load(), 0) << "the verification was not started";
    EXPECT_TRUE(window.Messages().empty());

    std::vector<std::uint8_t> sent = kPreambleOnly;
    sent.insert(sent.end(), row.frame.begin(), row.frame.end());
    EXPECT_EQ(FirstReceived(device, sent.size()), sent);

    ASSERT_TRUE(WaitUntilReady());
    EXPECT_EQ(device.ColdJunctionTenths(), row.tenths);
    EXPECT_EQ(window.Text(StatusLine), texts::kAdjustSucceeded);
}

INSTANTIATE_TEST_SUITE_P(Table, AcceptedAdjustment, ::testing::ValuesIn(kAdjustRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(AdjustFixture, OneCorrectCodeOpensTheAdjustmentForLaterCommands) {
    Adjust(kAccessCode, u"abc");
    ASSERT_EQ(window.Messages().size(), 1u);
    EXPECT_TRUE(ReceivedAfterQuiet(0).empty());

    Adjust(std::nullopt, u"23.57");
    EXPECT_EQ(window.Messages().size(), 1u);
    const std::vector<std::uint8_t> sent{0xAA, 0xAA, 0x46, 0x00, 0xEB, 0x00};
    EXPECT_EQ(FirstReceived(device, sent.size()), sent);
    ASSERT_TRUE(WaitUntilReady());
}

TEST_F(AdjustFixture, AWrongCodeClosesTheAdjustmentAgain) {
    Adjust(kAccessCode, u"abc");
    ASSERT_EQ(AccessGranted.load(), 1);

    Adjust(u"1111", u"23.57");

    EXPECT_EQ(AccessGranted.load(), 0);
    EXPECT_EQ(window.Messages().size(), 1u);
    ExpectNothingSentAndNoOperation();
}

}  // namespace
