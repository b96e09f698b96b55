// Openings, sending and Unlock on a bare pseudo-terminal.

#include "serial/port_link.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "app/operation_state.h"
#include "device/protocol.h"
#include "resources/control_ids.h"
#include "resources/texts.h"
#include "serial/device_path.h"
#include "serial/port_discovery.h"
#include "serial/response_reader.h"
#include "tests/serial/pty_pair.h"
#include "tests/support/recording_window.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class PortLinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetOperationState();
        ResetReceiveBuffers();
        SetPortName(u"");
        ASSERT_TRUE(pty.IsOpen());
    }

    PtyPair pty;
    RecordingWindow window;
};

enum class Profile { kMonitored, kQuick };

bool Open(Profile profile, HandleSlot& slot, Window& window, std::u16string_view name) {
    if (profile == Profile::kMonitored) return OpenPortMonitored(slot, window, name);
    SetPortName(name);
    return OpenPortQuick(slot, window);
}

// ---------------------------------------------------------------------------------------------
// Both profiles leave the line at 9600 8N1, raw, without flow control, whatever it was before.

struct ProfileCase {
    const char* name;
    Profile profile;
    std::vector<int> lines_with_opened_text;
    friend void PrintTo(const ProfileCase& row, std::ostream* os) { *os << row.name; }
};

class LineSettingsTest : public PortLinkTest, public ::testing::WithParamInterface<ProfileCase> {};

TEST_P(LineSettingsTest, SetsTheDeviceLinkAndReportsTheOpening) {
    termios before{};
    ASSERT_EQ(::tcgetattr(pty.Observer(), &before), 0);
    // A line left behind by some other program: 1200 7E2, cooked, with flow control.
    before.c_cflag = (before.c_cflag & ~CSIZE) | CS7 | PARENB | CSTOPB | CRTSCTS;
    before.c_iflag |= ICRNL | INLCR | IGNCR | ISTRIP | IXON | IXOFF | IXANY | PARMRK | INPCK;
    before.c_oflag |= OPOST;
    before.c_lflag |= ECHO | ICANON | ISIG | IEXTEN;
    before.c_cc[VMIN] = 5;
    before.c_cc[VTIME] = 3;
    ::cfsetispeed(&before, B1200);
    ::cfsetospeed(&before, B1200);
    ASSERT_EQ(::tcsetattr(pty.Observer(), TCSANOW, &before), 0);

    HandleSlot slot;
    EXPECT_TRUE(Open(GetParam().profile, slot, window, pty.PortName()));

    termios after{};
    ASSERT_EQ(::tcgetattr(pty.Observer(), &after), 0);
    EXPECT_EQ(::cfgetispeed(&after), speed_t{B9600});
    EXPECT_EQ(::cfgetospeed(&after), speed_t{B9600});
    EXPECT_EQ(after.c_cflag & CSIZE, tcflag_t{CS8});
    EXPECT_EQ(after.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u) << "parity, two stop bits, RTS/CTS";
    EXPECT_EQ(after.c_cflag & (CREAD | CLOCAL), tcflag_t{CREAD | CLOCAL});
    EXPECT_EQ(
        after.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXON | IXOFF | IXANY | PARMRK | INPCK),
        0u);
    EXPECT_EQ(after.c_oflag & OPOST, 0u);
    EXPECT_EQ(after.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(after.c_cc[VMIN], 0);
    EXPECT_EQ(after.c_cc[VTIME], 0);

    EXPECT_TRUE(window.Messages().empty()) << Utf8(window.Messages().front());
    std::vector<int> lines;
    for (const auto& event : window.Events()) {
        if (event.kind == RecordingWindow::EventKind::kSetText &&
            event.text == texts::kPortOpened) {
            lines.push_back(event.identity);
        }
    }
    EXPECT_EQ(lines, GetParam().lines_with_opened_text);
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, LineSettingsTest,
    ::testing::Values(
        ProfileCase{"MonitoredWritesBothLines", Profile::kMonitored, {StatusLine, DetailLine}},
        ProfileCase{"QuickWritesTheStatusLineOnly", Profile::kQuick, {StatusLine}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Openings that fail are reported, and the caller's send then finds no port.

std::u16string OpenFailedFor(std::u16string_view name) {
    return u"Открыть последовательный порт" + std::u16string(name) +
           u" Неудача，Проверьте, занят ли последовательный порт";
}

struct OpenFailureCase {
    const char* name;
    std::u16string port_name;
    friend void PrintTo(const OpenFailureCase& row, std::ostream* os) { *os << row.name; }
};

class OpenFailureTest : public PortLinkTest,
                        public ::testing::WithParamInterface<OpenFailureCase> {};

TEST_P(OpenFailureTest, UnlockShowsTheOpenFailureThenPortNotOpen) {
    SetPortName(GetParam().port_name);
    HandleSlot slot;
    UnlockHandler(window, slot);

    EXPECT_EQ(window.Messages(),
              (std::vector<std::u16string>{OpenFailedFor(GetParam().port_name),
                                           std::u16string(texts::kPortNotOpen)}));
    EXPECT_TRUE(window.TextsOf(StatusLine).empty());
    EXPECT_FALSE(slot.reader.joinable());
    EXPECT_EQ(LinkState.load(), kLinkIdle);
}

INSTANTIATE_TEST_SUITE_P(
    Names, OpenFailureTest,
    ::testing::Values(OpenFailureCase{"NoSuchDevice", u"/dev/no-such-serial-port"},
                      OpenFailureCase{"EmptyNameLeavesNothingInItsPlace", u""},
                      OpenFailureCase{"NotADevicePath", u"COM3"},
                      OpenFailureCase{"ANameUnderDevIsShownWithoutTheFolder", u"ttyUSB10"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PortLinkTest, APortHeldByAnotherOpeningIsRefusedUntilThatOneCloses) {
    HandleSlot holder;
    ASSERT_TRUE(OpenPortMonitored(holder, window, pty.PortName()));
    window.ClearEvents();

    HandleSlot second;
    EXPECT_FALSE(OpenPortMonitored(second, window, pty.PortName()));
    EXPECT_FALSE(SendFrame(UnlockPreamble.size(), UnlockPreamble.data(), second, window));
    EXPECT_EQ(window.Messages(),
              (std::vector<std::u16string>{OpenFailedFor(pty.PortName()),
                                           std::u16string(texts::kPortNotOpen)}));
    EXPECT_TRUE(pty.DeviceRead(2, std::chrono::milliseconds(100)).empty());

    // The terminal stays open through the observer: closing must lift the exclusive mode.
    ClosePort(holder);
    window.ClearEvents();
    HandleSlot third;
    EXPECT_TRUE(OpenPortMonitored(third, window, pty.PortName()));
    EXPECT_TRUE(window.Messages().empty());
}

#ifdef TIOCGEXCL
TEST_F(PortLinkTest, TheTerminalIsExclusiveOnlyWhileOpen) {
    int exclusive = -1;
    {
        HandleSlot slot;
        ASSERT_TRUE(OpenPortMonitored(slot, window, pty.PortName()));
        ASSERT_EQ(::ioctl(pty.Observer(), TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 1);
    }
    // Left on, it would refuse every later opening while anyone else holds the terminal.
    ASSERT_EQ(::ioctl(pty.Observer(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
}
#endif

// ---------------------------------------------------------------------------------------------
// What goes on the wire.

struct SendCase {
    const char* name;
    std::vector<std::uint16_t> frame;
    std::size_t count;
    Bytes on_the_wire;
    friend void PrintTo(const SendCase& row, std::ostream* os) { *os << row.name; }
};

class SendFrameTest : public PortLinkTest, public ::testing::WithParamInterface<SendCase> {};

TEST_P(SendFrameTest, SendsTheLowByteOfEachOfTheFirstCountSlots) {
    HandleSlot slot;
    ASSERT_TRUE(OpenPortMonitored(slot, window, pty.PortName()));
    EXPECT_TRUE(SendFrame(GetParam().count, GetParam().frame.data(), slot, window));
    EXPECT_EQ(pty.DeviceRead(GetParam().on_the_wire.size() + 1), GetParam().on_the_wire);
    EXPECT_TRUE(window.Messages().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Frames, SendFrameTest,
    ::testing::Values(
        SendCase{"OneCommandByte", {0x42}, 1, {0x42}},
        SendCase{"SlotsAboveOneByteLoseTheirHighByte",
                 {0x0146, 0xFF00, 0x80EB, 0x0000},
                 4,
                 {0x46, 0x00, 0xEB, 0x00}},
        SendCase{"OnlyTheFirstCountSlots", {0x44, 0x03, 0x01, 0x5E, 0x80}, 2, {0x44, 0x03}},
        SendCase{"AWholeConfigurationFrame",
                 {0x44, 0x03, 0x01, 0x5E, 0x80, 0x32, 0x01, 0, 0, 0, 0, 0, 1, 0},
                 14,
                 {0x44, 0x03, 0x01, 0x5E, 0x80, 0x32, 0x01, 0, 0, 0, 0, 0, 1, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PortLinkTest, UnlockSendsExactlyThePreambleAndLeavesTheStateAlone) {
    SetPortName(pty.PortName());
    LinkState = kLinkIdle;
    HandleSlot slot;
    UnlockHandler(window, slot);
    ClosePort(slot);

    EXPECT_EQ(pty.DeviceRead(3), (Bytes{0xAA, 0xAA}));
    EXPECT_TRUE(window.Messages().empty());
    EXPECT_EQ(window.Text(StatusLine), texts::kPortOpened);
    EXPECT_EQ(window.Text(DetailLine), texts::kPortOpened);
    EXPECT_EQ(LinkState.load(), kLinkIdle);
    EXPECT_EQ(ReplyOk.load(), 0);
}

TEST_F(PortLinkTest, APortNamedWithoutDevIsOpenedUnderDev) {
    SetPortName(PortNameFromDevicePath(pty.PortPath()));
    ASSERT_EQ(PortNameView().substr(0, 4), u"pts/");
    HandleSlot slot;
    UnlockHandler(window, slot);
    ClosePort(slot);
    EXPECT_EQ(pty.DeviceRead(3), (Bytes{0xAA, 0xAA}));
    EXPECT_TRUE(window.Messages().empty());
}

TEST_F(PortLinkTest, TheSendsDiscardLeavesTheReplyToAWaitingReader) {
    LinkState = kExpectVersionReply;
    HandleSlot slot;
    ASSERT_TRUE(OpenPortMonitored(slot, window, pty.PortName()));
    // The reply is in before the send's discards run; they must not take it from the reader.
    pty.DeviceWrite({1, 2, 3});
    const std::uint16_t command = kCommandReadVersion;
    EXPECT_TRUE(SendFrame(1, &command, slot, window));
    WaitForReader(slot);
    EXPECT_EQ(ReplyOk.load(), 1);
    EXPECT_EQ(VersionBuffer[2], 3);
    EXPECT_EQ(pty.DeviceRead(2), (Bytes{0x43}));
}

TEST_F(PortLinkTest, ADiscardWithNoReaderDropsStaleInput) {
    SetPortName(pty.PortName());
    HandleSlot slot;
    ASSERT_TRUE(OpenPortQuick(slot, window));
    pty.DeviceWrite({0x55, 0x66});
    ASSERT_EQ(pty.WaitForUnreadInput(2), 2u);
    const std::uint16_t command = kCommandReadColdJunction;
    EXPECT_TRUE(SendFrame(1, &command, slot, window));
    EXPECT_EQ(pty.UnreadInput(), 0u);
}

TEST_F(PortLinkTest, AWriteCutShortByTheTimeOutIsASendFailure) {
    SetPortName(pty.PortName());
    HandleSlot slot;
    ASSERT_TRUE(OpenPortQuick(slot, window));
    // Nobody reads the device side: fill the line until it takes no more. The terminal moves
    // bytes on to the device side in the background, making room again; it is full once a
    // round after a pause takes nothing more.
    const std::vector<std::uint8_t> filler(4096, 0x00);
    for (bool took_some = true; took_some;) {
        took_some = false;
        while (::write(pty.Observer(), filler.data(), filler.size()) > 0) took_some = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }

    EXPECT_FALSE(SendFrame(UnlockPreamble.size(), UnlockPreamble.data(), slot, window));
    EXPECT_EQ(window.Messages(), (std::vector<std::u16string>{std::u16string(texts::kSendFailed)}));
}

// The device side stops reading: once the line's buffers are full, a write must give up at its
// own deadline rather than wait for room. The helper lets a blocked write go eventually, so
// that a fault shows as a late return instead of a hung test.
TEST_F(PortLinkTest, AWriteThatNoLongerFitsTheLineReturnsByItsTimeOut) {
    SetPortName(pty.PortName());
    HandleSlot slot;
    ASSERT_TRUE(OpenPortQuick(slot, window));
    constexpr PortTimeouts kShortWrite{0, 0, 0, 200};
    ASSERT_TRUE(ApplyTimeouts(slot.port, kShortWrite));
    // Far more than a pseudo-terminal holds.
    const std::vector<std::uint8_t> block(1 << 20, 0x55);

    std::atomic<bool> returned{false};
    std::thread unblocker([&] {
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(4);
        while (!returned.load() && std::chrono::steady_clock::now() < give_up)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::uint8_t sink[4096];
        while (!returned.load()) {
            pollfd poll_fd{pty.Master(), POLLIN, 0};
            if (::poll(&poll_fd, 1, 10) > 0 && ::read(pty.Master(), sink, sizeof sink) <= 0) break;
        }
    });
    const auto start = std::chrono::steady_clock::now();
    const long written = WriteSerial(slot.port, block.data(), block.size());
    const auto took = std::chrono::steady_clock::now() - start;
    returned = true;
    unblocker.join();

    EXPECT_GE(written, 0);
    EXPECT_LT(written, static_cast<long>(block.size()));
    EXPECT_LT(took,
              std::chrono::milliseconds(kShortWrite.write_constant_ms) + std::chrono::seconds(1));
}

TEST_F(PortLinkTest, SendingToAVanishedDeviceFails) {
    HandleSlot slot;
    ASSERT_TRUE(OpenPortMonitored(slot, window, pty.PortName()));
    pty.CloseMaster();
    EXPECT_FALSE(SendFrame(UnlockPreamble.size(), UnlockPreamble.data(), slot, window));
    EXPECT_EQ(window.Messages(), (std::vector<std::u16string>{std::u16string(texts::kSendFailed)}));
}

}  // namespace
