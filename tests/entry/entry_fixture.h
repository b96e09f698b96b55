#pragma once

#include <gtest/gtest.h>

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

// Every case starts from the program's start state, with the simulated transmitter as the
// only port there is.
class EntryFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ResetOperationState();
        ResetReceiveBuffers();
        ResetConfigFrame();
        AccessGranted = 0;
        ASSERT_TRUE(device.IsRunning());
        const std::string path = device.PortPath();
        SetPortName(std::u16string(path.begin(), path.end()));
        InstallCommandHandlers();
    }

    // A worker still running would write into the window after it is gone.
    void TearDown() override { EXPECT_TRUE(WaitUntilReady()); }

    // What the device received, once at least `count` bytes are in (or the patience is gone).
    std::vector<std::uint8_t> ReceivedAtLeast(std::size_t count) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        std::vector<std::uint8_t> received = device.ReceivedValues();
        while (received.size() < count && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            received = device.ReceivedValues();
        }
        return received;
    }

    // What the device received after `count` bytes and a pause in which nothing more was due.
    std::vector<std::uint8_t> ReceivedAfterQuiet(std::size_t count) {
        ReceivedAtLeast(count);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return device.ReceivedValues();
    }

    sim::SimulatedTransmitter device;
    RecordingWindow window;
};

inline const std::vector<std::uint8_t> kPreambleOnly{0xAA, 0xAA};
