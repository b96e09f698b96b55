// The serial link and the reading operations on the platform's own serial driver, against a
// simulated transmitter that scripts/wine-tests.sh starts. On Windows (under Wine) the script
// maps the transmitter's pseudo-terminal to COM ports; on Linux the same cases run on the
// pseudo-terminal itself, and the script compares what the transmitter received in both runs.
//
// The ports come from the environment:
//   CONFIGURATOR_TEST_PORT         the transmitter, the last port the platform lists (COM7)
//   CONFIGURATOR_TEST_SECOND_PORT  a second transmitter, version 2.1.0 (COM12)
//   CONFIGURATOR_TEST_ABSENT_PORT  a name no device answers to (COM9)

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_dispatcher.h"
#include "app/operation_state.h"
#include "device/protocol.h"
#include "resources/control_ids.h"
#include "resources/texts.h"
#include "serial/port_discovery.h"
#include "serial/port_link.h"
#include "serial/response_reader.h"
#include "serial/serial_port.h"
#include "tests/support/recording_window.h"

namespace {

std::u16string FromEnvironment(const char* variable) {
    const char* value = std::getenv(variable);
    std::u16string text;
    for (const char* c = value ? value : ""; *c != '\0'; ++c) {
        text += static_cast<char16_t>(static_cast<unsigned char>(*c));
    }
    return text;
}

std::u16string TestPort() { return FromEnvironment("CONFIGURATOR_TEST_PORT"); }
std::u16string SecondPort() { return FromEnvironment("CONFIGURATOR_TEST_SECOND_PORT"); }
std::u16string AbsentPort() { return FromEnvironment("CONFIGURATOR_TEST_ABSENT_PORT"); }

bool RunningUnderWine() {
#ifdef _WIN32
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

std::u16string OpenFailedText(std::u16string_view name) {
    std::u16string text(texts::kOpenFailed);
    text.replace(text.find(u"%s"), 2, name);
    return text;
}

std::vector<std::string> Utf8Lines(const std::vector<std::u16string>& texts) {
    std::vector<std::string> lines;
    for (const auto& text : texts) lines.push_back(Utf8(text));
    return lines;
}

class SerialLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(TestPort().empty()) << "run by scripts/wine-tests.sh, which sets the ports";
        ResetOperationState();
        ResetReceiveBuffers();
        InstallCommandHandlers();
        SetPortName(TestPort());
#ifndef _WIN32
        // This machine's own serial ports must stay untouched; Linux lists no pseudo-terminal.
        SetPortListSource([] { return std::vector<std::u16string>{TestPort()}; });
#endif
    }
    void TearDown() override {
        ASSERT_TRUE(WaitUntilReady());
        SetPortListSource({});
    }

    void Click(int identity) {
        CommandDispatcher(window, identity);
        ASSERT_TRUE(WaitUntilReady());
    }

    RecordingWindow window;
};

// ---------------------------------------------------------------------------------------------
// Discovery

TEST_F(SerialLinkTest, DiscoveryKeepsTheLastPortThePlatformLists) {
#ifndef _WIN32
    GTEST_SKIP() << "Linux lists no pseudo-terminal among its serial ports";
#endif
    SetPortName(u"");
    PortDiscovery();
    EXPECT_EQ(Utf8(PortNameView()), Utf8(TestPort()));
}

// ---------------------------------------------------------------------------------------------
// The backend's calls on the driver, in both opening profiles

struct ProfileCase {
    const char* name;
    PortTimeouts timeouts;
};

void PrintTo(const ProfileCase& row, std::ostream* out) { *out << row.name; }

class BackendProfileTest : public SerialLinkTest,
                           public ::testing::WithParamInterface<ProfileCase> {};

const ProfileCase kProfiles[] = {
    {"monitored", kMonitoredTimeouts},
    {"quick", kQuickTimeouts},
};

// With nothing on the line, a read ends at its time-out with what arrived (nothing): a short
// read, which the reader tells apart from a failed call.
TEST_P(BackendProfileTest, DriverTakesTheSettingsAndAnIdleReadTimesOutEmpty) {
    SerialPort port = OpenSerialDevice(TestPort());
    ASSERT_TRUE(port.IsOpen());
    EXPECT_TRUE(ReadLineSettings(port));
    EXPECT_TRUE(ApplyLineSettings(port));
    SetEventMaskAndQueues(port);
    EXPECT_TRUE(ApplyTimeouts(port, GetParam().timeouts));
    DiscardBuffers(port);
    std::array<std::uint8_t, 3> buffer{};
    EXPECT_EQ(ReadSerial(port, buffer.data(), buffer.size()), 0);
}

INSTANTIATE_TEST_SUITE_P(Profiles, BackendProfileTest, ::testing::ValuesIn(kProfiles),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// One opening: the reader waits in its read while the same handle writes two frames

TEST_F(SerialLinkTest, ReaderWaitingOnThePortGetsTheReplyToAFrameWrittenMeanwhile) {
    HandleSlot slot;
    LinkState = kExpectVersionReply;
    ASSERT_TRUE(OpenPortMonitored(slot, window, TestPort()));
    const std::array<std::uint16_t, 1> read_version{kCommandReadVersion};
    EXPECT_TRUE(SendFrame(UnlockPreamble.size(), UnlockPreamble.data(), slot, window));
    EXPECT_TRUE(SendFrame(read_version.size(), read_version.data(), slot, window));
    WaitForReader(slot);
    EXPECT_EQ(ReplyOk.load(), 1);
    EXPECT_EQ(LinkState.load(), kLinkIdle);
    EXPECT_EQ((std::array<std::uint8_t, 4>{VersionBuffer[0], VersionBuffer[1], VersionBuffer[2],
                                            VersionBuffer[3]}),
              (std::array<std::uint8_t, 4>{1, 0, 3, 0}));
    EXPECT_TRUE(window.Messages().empty()) << ::testing::PrintToString(Utf8Lines(window.Messages()));
}

// ---------------------------------------------------------------------------------------------
// The buttons, through the dispatcher, in the order a technician would click them

struct BoxText {
    int identity;
    std::u16string_view text;
};

struct OperationCase {
    const char* name;
    std::vector<int> clicks;
    std::vector<BoxText> boxes;  // after the last click
};

void PrintTo(const OperationCase& row, std::ostream* out) { *out << row.name; }

class OperationTest : public SerialLinkTest,
                      public ::testing::WithParamInterface<OperationCase> {};

// The transmitter holds type K, -50 ... 300, 4-20 mA, high fault level; version 1.0.3 (a
// 14-byte configuration reply); the cold junction at -5.2 degrees.
const OperationCase kOperations[] = {
    {"unlock_opens_the_port_and_changes_nothing_else",
     {kIdUnlock},
     {{StatusLine, texts::kPortOpened}, {DetailLine, texts::kPortOpened}}},
    {"read_version_shows_the_three_numbers",
     {kIdReadVersion},
     {{kIdVersionByte0, u"1"}, {kIdVersionByte1, u"0"}, {kIdVersionByte2, u"3"},
      {StatusLine, texts::kVersionRead}}},
    {"read_configuration_after_the_version_reads_the_whole_reply",
     {kIdReadVersion, kIdReadConfiguration},
     {{kIdSensorTypeReadback, u"Датчик:K Тип ТП \r\n"}, {kIdUpperSignReadback, texts::kSignPlus},
      {kIdUpperLimitReadback, u"300"}, {kIdLowerLimitReadback, u"50"},
      {kIdLowerSignReadback, texts::kSignMinus}, {DetailLine, texts::kFaultHigh},
      {StatusLine, texts::kSensorRead420}}},
    {"read_cold_junction_shows_the_temperature",
     {kIdReadColdJunction},
     {{kIdColdJunctionTemperature, u"-5.2"}, {StatusLine, texts::kColdJunctionRead}}},
};

TEST_P(OperationTest, ShowsTheDevicesAnswerWithoutAnyMessage) {
    for (int identity : GetParam().clicks) ASSERT_NO_FATAL_FAILURE(Click(identity));
    for (const BoxText& box : GetParam().boxes) {
        EXPECT_EQ(Utf8(window.Text(box.identity)), Utf8(box.text)) << "box " << box.identity;
    }
    // A refused setting or time-out would have shown its message box.
    EXPECT_TRUE(window.Messages().empty()) << ::testing::PrintToString(Utf8Lines(window.Messages()));
}

INSTANTIATE_TEST_SUITE_P(Buttons, OperationTest, ::testing::ValuesIn(kOperations),
                         [](const auto& info) { return std::string(info.param.name); });

// Connect finds the port itself; the name it shows is the plain one, not the device path.
TEST_F(SerialLinkTest, ConnectFindsThePortShowsItsNameAndReadsTheVersion) {
    SetPortName(u"");
    ASSERT_NO_FATAL_FAILURE(Click(kIdConnect));
    EXPECT_EQ(Utf8(window.Text(kIdPortNameBox)), Utf8(TestPort()));
    EXPECT_EQ(Utf8(window.Text(kIdVersionByte2)), "3");
    EXPECT_EQ(Utf8(window.Text(StatusLine)), Utf8(texts::kVersionRead));
    EXPECT_TRUE(window.Messages().empty()) << ::testing::PrintToString(Utf8Lines(window.Messages()));
}

// ---------------------------------------------------------------------------------------------
// A second port, numbered above 9 on Windows: such names open only through the device namespace

TEST_F(SerialLinkTest, PortNumberedAboveNineOpensAndAnswers) {
    ASSERT_FALSE(SecondPort().empty());
    SetPortName(SecondPort());
    ASSERT_NO_FATAL_FAILURE(Click(kIdReadVersion));
    EXPECT_EQ(Utf8(window.Text(kIdVersionByte0)), "2");
    EXPECT_EQ(Utf8(window.Text(kIdVersionByte1)), "1");
    EXPECT_EQ(Utf8(window.Text(kIdVersionByte2)), "0");
    EXPECT_EQ(Utf8(window.Text(StatusLine)), Utf8(texts::kVersionRead));
    EXPECT_TRUE(window.Messages().empty()) << ::testing::PrintToString(Utf8Lines(window.Messages()));
}

// ---------------------------------------------------------------------------------------------
// Ports that cannot be opened

TEST_F(SerialLinkTest, UnlockOnAPortNoDeviceAnswersShowsTheOpenFailureThenNotOpen) {
    ASSERT_FALSE(AbsentPort().empty());
    SetPortName(AbsentPort());
    ASSERT_NO_FATAL_FAILURE(Click(kIdUnlock));
    EXPECT_EQ(Utf8Lines(window.Messages()),
              Utf8Lines({OpenFailedText(AbsentPort()), std::u16string(texts::kPortNotOpen)}));
}

TEST_F(SerialLinkTest, UnlockOnAPortHeldOpenElsewhereShowsTheOpenFailureThenNotOpen) {
    if (RunningUnderWine()) {
        GTEST_SKIP() << "Wine applies no sharing modes to devices: a second opening succeeds";
    }
    HandleSlot holder;
    RecordingWindow holder_window;
    ASSERT_TRUE(OpenPortMonitored(holder, holder_window, TestPort()));
    ASSERT_NO_FATAL_FAILURE(Click(kIdUnlock));
    EXPECT_EQ(Utf8Lines(window.Messages()),
              Utf8Lines({OpenFailedText(TestPort()), std::u16string(texts::kPortNotOpen)}));
}

}  // namespace
