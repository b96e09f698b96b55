#include "tests/operations/device_rig.h"

#include <gtest/gtest.h>

#include "app/command_dispatcher.h"
#include "app/operation_state.h"
#include "device/protocol.h"
#include "serial/port_discovery.h"
#include "serial/response_reader.h"

DeviceRig::DeviceRig(sim::Options options) : device(options) {
    ResetOperationState();
    ResetReceiveBuffers();
    ResetConfigFrame();
    SetPortListSource({});
    InstallCommandHandlers();
    SetPortName(PortPath());
}

DeviceRig::~DeviceRig() {
    WaitUntilReady();
    SetPortListSource({});
}

void DeviceRig::Click(int identity) { CommandDispatcher(window, identity); }

bool DeviceRig::ClickAndWait(int identity) {
    Click(identity);
    return WaitUntilReady();
}

std::u16string DeviceRig::PortPath() const { return Utf16(device.PortPath()); }

std::optional<std::chrono::steady_clock::time_point> DeviceRig::LastArrivalOf(
    std::uint8_t value) const {
    std::optional<std::chrono::steady_clock::time_point> when;
    for (const sim::ReceivedByte& byte : device.ReceivedBytes()) {
        if (byte.value == value) when = byte.when;
    }
    return when;
}

std::u16string Utf16(const std::string& ascii) { return {ascii.begin(), ascii.end()}; }

std::string Lines(const std::vector<std::u16string>& texts) {
    std::string out;
    for (const std::u16string& text : texts) out += "  [" + Utf8(text) + "]\n";
    return out;
}

void ExpectIdle() {
    EXPECT_EQ(ReadyFlag.load(), 1);
    EXPECT_EQ(LinkState.load(), kLinkIdle);
    EXPECT_EQ(ReplyOk.load(), 0);
}

void ExpectBox(const DeviceRig& rig, int identity, std::optional<std::u16string_view> expected) {
    if (expected) {
        EXPECT_EQ(Utf8(rig.window.Text(identity)), Utf8(*expected)) << "box " << identity;
    } else {
        EXPECT_TRUE(rig.window.TextsOf(identity).empty())
            << "box " << identity << " was written:\n" << Lines(rig.window.TextsOf(identity));
    }
}

void ExpectTexts(const DeviceRig& rig, int identity, const Texts& expected) {
    const Texts written = rig.window.TextsOf(identity);
    EXPECT_EQ(written, expected) << "box " << identity << " got:\n"
                                 << Lines(written) << "expected:\n" << Lines(expected);
}
