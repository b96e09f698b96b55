// Operations started by clicks on the real main window, offscreen: the worker's box updates
// travel through the window bridge to the interface thread while the test pumps its events.

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/command_dispatcher.h"
#include "app/qt/main_window.h"
#include "app/operation_state.h"
#include "device/protocol.h"
#include "resources/control_ids.h"
#include "resources/texts.h"
#include "serial/port_discovery.h"
#include "serial/response_reader.h"
#include "sim/simulated_transmitter.h"
#include "tests/support/recording_window.h"
#include "tests/support/test_application.h"

namespace {

// The window's own thread must keep running the carried calls, so the wait pumps events.
bool ClickAndPumpUntilReady(MainWindow& window, int identity) {
    QTest::mouseClick(window.Control(identity), Qt::LeftButton);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (ReadyFlag.load() != 1) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

std::string BoxText(MainWindow& window, int identity) {
    return Utf8(window.GetItemText(identity, 255));
}

TEST(OperationsInTheMainWindow, ConnectThenReadShowTheDevicesVersionAndConfiguration) {
    TestApplication();
    sim::Options options;
    options.version = {1, 4, 3};
    // J, -50 ... 300, 0-20 mA, low fault level.
    options.configuration = {0x44, 8, 0x01, 0x5E, 0x80, 0x32, 1, 0, 0, 0, 0, 1, 0, 0};
    sim::SimulatedTransmitter device(options);
    ASSERT_TRUE(device.IsRunning());
    const std::string path = device.PortPath();
    const std::u16string port(path.begin(), path.end());

    ResetOperationState();
    ResetReceiveBuffers();
    ResetConfigFrame();
    SetPortName(u"");
    SetPortListSource([port] { return std::optional(std::vector<std::u16string>{port}); });
    InstallCommandHandlers();

    {
        MainWindow window;
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

        ASSERT_TRUE(ClickAndPumpUntilReady(window, kIdConnect));
        EXPECT_EQ(BoxText(window, kIdPortNameBox), path);
        EXPECT_EQ(BoxText(window, kIdVersionByte0), "1");
        EXPECT_EQ(BoxText(window, kIdVersionByte1), "4");
        EXPECT_EQ(BoxText(window, kIdVersionByte2), "3");
        EXPECT_EQ(BoxText(window, StatusLine), Utf8(texts::kVersionRead));

        ASSERT_TRUE(ClickAndPumpUntilReady(window, kIdReadConfiguration));
        EXPECT_EQ(BoxText(window, kIdSensorTypeReadback), Utf8(SensorTypes[8].readback_text));
        EXPECT_EQ(BoxText(window, kIdUpperSignReadback), "+");
        EXPECT_EQ(BoxText(window, kIdUpperLimitReadback), "300");
        EXPECT_EQ(BoxText(window, kIdLowerSignReadback), "-");
        EXPECT_EQ(BoxText(window, kIdLowerLimitReadback), "50");
        EXPECT_EQ(BoxText(window, DetailLine), Utf8(texts::kFaultLow));
        EXPECT_EQ(BoxText(window, StatusLine), Utf8(texts::kSensorRead020));
    }

    EXPECT_EQ(device.ReceivedValues(),
              (std::vector<std::uint8_t>{0xAA, 0xAA, kCommandReadVersion, 0xAA, 0xAA,
                                         kCommandReadConfiguration}));
    SetPortListSource({});
    ClearCommandHandlers();
}

}  // namespace
