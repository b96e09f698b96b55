#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/command_dispatcher.h"
#include "app/operation_state.h"
#include "app/window.h"
#include "device/access_code.h"
#include "serial/port_discovery.h"
#include "tests/support/recording_window.h"
#include "tests/support/test_application.h"

// Commands that reached the dispatcher's table, with what the box or button showed then.
struct DispatchedCommand {
    int identity;
    std::u16string text;
    bool operator==(const DispatchedCommand&) const = default;
};

inline std::vector<DispatchedCommand>& DispatchedCommands() {
    static std::vector<DispatchedCommand> commands;
    return commands;
}

template <int Identity>
void RecordCommand(Window& window, HandleSlot&) {
    DispatchedCommands().push_back({Identity, window.GetItemText(Identity, 256)});
}

// Test handlers that only write down what they were given, in place of the program's own.
template <int... Identities>
void RecordCommandsOf() {
    (RegisterCommandHandler(Identities, &RecordCommand<Identities>), ...);
}

inline std::vector<int> DispatchedIdentities() {
    std::vector<int> identities;
    for (const DispatchedCommand& command : DispatchedCommands()) {
        identities.push_back(command.identity);
    }
    return identities;
}

// Runs the interface thread's events until `done` holds; false if it never does.
inline bool PumpUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds patience = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Every case starts as the program does, with no serial port on the machine and no handlers
// but the test's own.
class WidgetFixture : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { TestApplication(); }

    void SetUp() override {
        ResetOperationState();
        ClearCommandHandlers();
        DispatchedCommands().clear();
        AccessGranted = 0;
        SetPortName(u"");
        SetPortListSource([] {
            return std::optional<std::vector<std::u16string>>(std::vector<std::u16string>{});
        });
    }

    void TearDown() override { ClearCommandHandlers(); }
};
