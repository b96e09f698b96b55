#include "app/qt/configurator_shell.h"

#include <QPushButton>
#include <QTimer>
#include <string>
#include <vector>

#include "app/qt/main_window.h"
#include "resources/control_ids.h"
#include "sim/simulated_transmitter.h"
#include "tests/app/widget_fixture.h"

namespace {

// The program as it starts, with the program's own handlers, talking to a simulated
// transmitter that is the only serial port of the machine.
class ConfiguratorShellTest : public WidgetFixture {
  protected:
    void SetUp() override {
        WidgetFixture::SetUp();
        ASSERT_TRUE(device.IsRunning());
    }
    void TearDown() override {
        EXPECT_TRUE(WaitUntilReady());
        WidgetFixture::TearDown();
    }

    int Run(const std::function<void(MainWindow&)>& prepare) {
        const std::string path = device.PortPath();
        return RunConfigurator(
            [path] { return std::optional(std::vector{std::u16string(path.begin(), path.end())}); },
            prepare);
    }

    // What the device received once at least `count` bytes are in, or the patience is gone.
    std::vector<std::uint8_t> ReceivedAtLeast(std::size_t count) {
        PumpUntil([&] { return device.ReceivedValues().size() >= count; }, std::chrono::seconds(5));
        return device.ReceivedValues();
    }

    sim::SimulatedTransmitter device;
};

TEST_F(ConfiguratorShellTest, ClosingTheIdleWindowUnlocksTheDeviceOnceAndEndsWithZero) {
    const int code = Run(
        [](MainWindow& window) { QTimer::singleShot(50, &window, [&window] { window.close(); }); });
    EXPECT_EQ(code, 0);
    const std::string path = device.PortPath();
    EXPECT_EQ(PortNameView(), std::u16string(path.begin(), path.end()));
    EXPECT_EQ(ReceivedAtLeast(2), (std::vector<std::uint8_t>{0xAA, 0xAA}));
}

TEST_F(ConfiguratorShellTest, ClosingDuringAnOperationEndsTheRunBeforeTheOperationEnds) {
    bool started = false;
    const int code = Run([&started](MainWindow& window) {
        QTimer::singleShot(50, &window, [&] {
            qobject_cast<QPushButton*>(window.Control(kIdReadConfiguration))->click();
            started = ReadyFlag.load() == 0;
            QTimer::singleShot(100, &window, [&window] { window.close(); });
        });
    });
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(started);
    // The run ended while the worker still waited for its reply; it finishes on its own.
    EXPECT_EQ(ReadyFlag.load(), 0);
    EXPECT_TRUE(WaitUntilReady());
}

}  // namespace
