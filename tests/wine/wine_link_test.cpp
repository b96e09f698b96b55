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

std::u16string TestPort() {
    return FromEnvironment("CONFIGURATOR_TEST_PORT");
}
std::u16string SecondPort() {
    return FromEnvironment("CONFIGURATOR_TEST_SECOND_PORT");
}
std::u16string AbsentPort() {
    return FromEnvironment("CONFIGURATOR_TEST_ABSENT_PORT");
}

#ifdef _WIN32
bool RunningUnderWine() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
#endif

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

#ifdef _WIN32
// The serial-port list in the registry, rewritten for one case and put back afterwards.
constexpr wchar_t kSerialCommKey[] = L"Hardware\\DeviceMap\\SerialComm";

struct RegistryPort {
    std::u16string value_name;
    std::u16string device;
};
using RegistryPorts = std::optional<std::vector<RegistryPort>>;  // nullopt: no key at all

RegistryPorts ReadSerialComm() {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSerialCommKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    std::vector<RegistryPort> ports;
    for (DWORD index = 0;; ++index) {
        std::array<char16_t, 1024> name{};
        std::array<char16_t, 1024> data{};
        DWORD name_size = static_cast<DWORD>(name.size());
        DWORD data_size = static_cast<DWORD>(data.size() * sizeof(char16_t));
        if (::RegEnumValueW(key, index, reinterpret_cast<wchar_t*>(name.data()), &name_size,
                            nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()),
                            &data_size) != ERROR_SUCCESS) {
            break;
        }
        ports.push_back({name.data(), data.data()});
    }
    ::RegCloseKey(key);
    return ports;
}

void WriteSerialComm(const RegistryPorts& ports) {
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kSerialCommKey);
    if (!ports) return;
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSerialCommKey, 0, nullptr, REG_OPTION_VOLATILE,
                                KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    for (const RegistryPort& port : *ports) {
        ASSERT_EQ(::RegSetValueExW(key, reinterpret_cast<const wchar_t*>(port.value_name.c_str()),
                                   0, REG_SZ, reinterpret_cast<const BYTE*>(port.device.c_str()),
                                   static_cast<DWORD>((port.device.size() + 1) * sizeof(char16_t))),
                  ERROR_SUCCESS);
    }
    ::RegCloseKey(key);
}

struct RegistryDiscoveryCase {
    const char* name;
    RegistryPorts listed;
    std::u16string_view before;  // PortName before the discovery
    std::u16string_view after;
};

void PrintTo(const RegistryDiscoveryCase& row, std::ostream* out) {
    *out << row.name;
}

class RegistryDiscoveryTest : public SerialLinkTest,
                              public ::testing::WithParamInterface<RegistryDiscoveryCase> {
  protected:
    void SetUp() override {
        SerialLinkTest::SetUp();
        if (HasFatalFailure()) return;
        if (!RunningUnderWine()) {
            GTEST_SKIP() << "rewrites the machine's list of serial ports: only in a Wine prefix";
        }
        saved_ = ReadSerialComm();
    }
    void TearDown() override {
        if (RunningUnderWine()) WriteSerialComm(saved_);
        SerialLinkTest::TearDown();
    }

  private:
    RegistryPorts saved_;
};

// Longer than the 255 bytes the listing takes of a value's data.
const std::u16string kOverlongDevice(200, u'X');

const RegistryDiscoveryCase kRegistryDiscoveryCases[] = {
    {"no_key_keeps_the_earlier_name", std::nullopt, u"COM3", u"COM3"},
    {"no_ports_keep_the_earlier_name", std::vector<RegistryPort>{}, u"COM3", u"COM3"},
    {"of_three_ports_the_third_is_kept",
     std::vector<RegistryPort>{{u"\\Device\\Serial1", u"COM4"},
                               {u"\\Device\\Serial2", u"COM5"},
                               {u"\\Device\\Serial3", u"COM6"}},
     u"", u"COM6"},
    {"a_port_too_long_to_fit_does_not_end_the_list",
     std::vector<RegistryPort>{{u"\\Device\\Serial1", u"COM4"},
                               {u"\\Device\\Serial2", kOverlongDevice},
                               {u"\\Device\\Serial3", u"COM6"}},
     u"", u"COM6"},
};

TEST_P(RegistryDiscoveryTest, KeepsTheLastListedPort) {
    ASSERT_NO_FATAL_FAILURE(WriteSerialComm(GetParam().listed));
    SetPortName(GetParam().before);
    PortDiscovery();
    EXPECT_EQ(Utf8(PortNameView()), Utf8(GetParam().after));
}

INSTANTIATE_TEST_SUITE_P(Registry, RegistryDiscoveryTest,
                         ::testing::ValuesIn(kRegistryDiscoveryCases),
                         [](const auto& info) { return std::string(info.param.name); });
#endif

// ---------------------------------------------------------------------------------------------
// The backend's calls on the driver, in both opening profiles

struct ProfileCase {
    const char* name;
    PortTimeouts timeouts;
};

void PrintTo(const ProfileCase& row, std::ostream* out) {
    *out << row.name;
}

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
    EXPECT_TRUE(window.Messages().empty())
        << ::testing::PrintToString(Utf8Lines(window.Messages()));
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

void PrintTo(const OperationCase& row, std::ostream* out) {
    *out << row.name;
}

class OperationTest : public SerialLinkTest, public ::testing::WithParamInterface<OperationCase> {};

// The transmitter holds type K, -50 ... 300, 4-20 mA, high fault level; version 1.0.3 (a
// 14-byte configuration reply); the cold junction at -5.2 degrees.
const OperationCase kOperations[] = {
    {"unlock_opens_the_port_and_changes_nothing_else",
     {kIdUnlock},
     {{StatusLine, texts::kPortOpened}, {DetailLine, texts::kPortOpened}}},
    {"read_version_shows_the_three_numbers",
     {kIdReadVersion},
     {{kIdVersionByte0, u"1"},
      {kIdVersionByte1, u"0"},
      {kIdVersionByte2, u"3"},
      {StatusLine, texts::kVersionRead}}},
    {"read_configuration_after_the_version_reads_the_whole_reply",
     {kIdReadVersion, kIdReadConfiguration},
     {{kIdSensorTypeReadback, u"Датчик:K Тип ТП \r\n"},
      {kIdUpperSignReadback, texts::kSignPlus},
      {kIdUpperLimitReadback, u"300"},
      {kIdLowerLimitReadback, u"50"},
      {kIdLowerSignReadback, texts::kSignMinus},
      {DetailLine, texts::kFaultHigh},
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
    EXPECT_TRUE(window.Messages().empty())
        << ::testing::PrintToString(Utf8Lines(window.Messages()));
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
    EXPECT_TRUE(window.Messages().empty())
        << ::testing::PrintToString(Utf8Lines(window.Messages()));
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
    EXPECT_TRUE(window.Messages().empty())
        << ::testing::PrintToString(Utf8Lines(window.Messages()));
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
    // Wine applies no sharing modes to devices; the port's mutex refuses the second opening
    // there too.
    HandleSlot holder;
    RecordingWindow holder_window;
    ASSERT_TRUE(OpenPortMonitored(holder, holder_window, TestPort()));
    ASSERT_NO_FATAL_FAILURE(Click(kIdUnlock));
    EXPECT_EQ(Utf8Lines(window.Messages()),
              Utf8Lines({OpenFailedText(TestPort()), std::u16string(texts::kPortNotOpen)}));
}

}  // namespace
