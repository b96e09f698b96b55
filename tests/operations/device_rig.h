#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/simulated_transmitter.h"
#include "tests/support/recording_window.h"

// A simulated transmitter on a pseudo-terminal, the program's state back at its start values,
// every handler installed and PortName naming the simulated port.
struct DeviceRig {
    explicit DeviceRig(sim::Options options = {});
    // Lets a running operation finish before the window and the device go.
    ~DeviceRig();

    // A click (or any command) on the control `identity`, as the main window delivers it.
    void Click(int identity);
    // Clicks and waits until the operation it started has ended.
    bool ClickAndWait(int identity);

    std::u16string PortPath() const;
    std::vector<std::uint8_t> Received() const { return device.ReceivedValues(); }
    // When the device received the last byte equal to `value`.
    std::optional<std::chrono::steady_clock::time_point> LastArrivalOf(std::uint8_t value) const;

    sim::SimulatedTransmitter device;
    RecordingWindow window;
};

std::u16string Utf16(const std::string& ascii);

// Test output of a list of texts, one a line.
std::string Lines(const std::vector<std::u16string>& texts);

using Texts = std::vector<std::u16string>;

// No operation runs and the shared state is back at rest.
void ExpectIdle();
// The box's text; nullopt: the box was never written.
void ExpectBox(const DeviceRig& rig, int identity, std::optional<std::u16string_view> expected);
// Every text written into the box, in order.
void ExpectTexts(const DeviceRig& rig, int identity, const Texts& expected);
