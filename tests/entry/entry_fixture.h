#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "app/command_dispatcher.h"
#include "app/operation_state.h"
#include "device/access_code.h"
#include "device/protocol.h"
#include "serial/port_discovery.h"
#include "serial/response_reader.h"
#include "sim/simulated_transmitter.h"
#include "tests/support/recording_window.h"

// What the device received, once at least `count` bytes are in (or the patience is gone).
inline std::vector<std::uint8_t> ReceivedAtLeast(const sim::SimulatedTransmitter& device,
                                                 std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    std::vector<std::uint8_t> received = device.ReceivedValues();
    while (received.size() < count && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        received = device.ReceivedValues();
    }
    return received;
}

// What the device received after `count` bytes and a pause in which nothing more was due.
inline std::vector<std::uint8_t> ReceivedAfterQuiet(const sim::SimulatedTransmitter& device,
                                                    std::size_t count) {
    ReceivedAtLeast(device, count);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return device.ReceivedValues();
}

// The first `count` bytes the device received (fewer if no more came).
inline std::vector<std::uint8_t> FirstReceived(const sim::SimulatedTransmitter& device,
                                               std::size_t count) {
    std::vector<std::uint8_t> received = ReceivedAtLeast(device, count);
    received.resize(std::min(received.size(), count));
    return received;
}

inline const std::vector<std::uint8_t> kPreambleOnly{0xAA, 0xAA};

// The process-wide state as the program starts with it.
inline void ResetProgramState() {
    ResetOperationState();
    ResetReceiveBuffers();
    ResetConfigFrame();
    AccessGranted = 0;
}

// Every case starts from the program's start state, with the simulated transmitter as the
// only port there is.
class EntryFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ResetProgramState();
        ASSERT_TRUE(device.IsRunning());
        const std::string path = device.PortPath();
        SetPortName(std::u16string(path.begin(), path.end()));
        InstallCommandHandlers();
    }

    // A worker still running would write into the window after it is gone.
    void TearDown() override { EXPECT_TRUE(WaitUntilReady()); }

    std::vector<std::uint8_t> ReceivedAtLeast(std::size_t count) {
        return ::ReceivedAtLeast(device, count);
    }
    std::vector<std::uint8_t> ReceivedAfterQuiet(std::size_t count) {
        return ::ReceivedAfterQuiet(device, count);
    }

    sim::SimulatedTransmitter device;
    RecordingWindow window;
};

