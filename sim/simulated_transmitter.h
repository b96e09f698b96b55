#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// A simulated temperature transmitter behind a pseudo-terminal. Programs open PortPath() as
// they would open a serial port. It knows the protocol on its own terms: nothing here is shared
// with the configurator's protocol code, so that one mistake cannot hide on both sides.
namespace sim {

// Ways the simulated device can misbehave on its next reply.
enum class Fault {
    kNone,
    kSilence,     // no reply at all
    kShortReply,  // the reply minus its last byte
    kLateReply,   // the whole reply, but only after Options::late_reply_delay
    kGarbage,     // bytes of the right length that are not the reply
    kVanish,      // the pseudo-terminal closes: the port is gone
};

struct TraceEntry;

struct Options {
    std::array<std::uint8_t, 3> version{1, 0, 3};
    // The configuration the device holds, as a 'D' frame (byte 0 is 'D').
    std::array<std::uint8_t, 14> configuration{0x44, 0x03, 0x01, 0x5E, 0x80, 0x32, 0x01,
                                               0,    0,    0,    0,    0,    1,    0};
    std::int16_t cold_junction_tenths = 234;  // 23.4 degrees
    // Added to the temperature an 'F' frame sets: lets tests make an adjustment fail.
    std::int16_t adjustment_error_tenths = 0;
    // How long the device stays unlocked after the unlock preamble.
    std::chrono::milliseconds unlock_window{10000};
    // When false, the device answers without being unlocked.
    bool require_unlock = true;
    // Time between a complete command and the first reply byte.
    std::chrono::milliseconds processing_delay{5};
    // Time a byte takes on the line (9600 baud, 10 bits a byte).
    std::chrono::microseconds byte_time{1042};
    std::chrono::milliseconds late_reply_delay{300};
    // Told of every message as the device handles it, on the device's own thread.
    std::function<void(const TraceEntry&)> on_message;
};

// One byte the device received, with when it arrived.
struct ReceivedByte {
    std::uint8_t value;
    std::chrono::steady_clock::time_point when;
};

// One complete message the device recognised, for the decoded trace.
struct TraceEntry {
    std::chrono::steady_clock::time_point when;
    std::vector<std::uint8_t> received;  // the message's bytes
    std::vector<std::uint8_t> replied;   // what the device sent back (may be empty)
    std::string description;             // e.g. "unlock", "read version -> 1.0.3", "ignored (locked)"
};

class SimulatedTransmitter {
public:
    explicit SimulatedTransmitter(Options options = {});
    ~SimulatedTransmitter();
    SimulatedTransmitter(const SimulatedTransmitter&) = delete;
    SimulatedTransmitter& operator=(const SimulatedTransmitter&) = delete;

    // False when no pseudo-terminal could be made.
    bool IsRunning() const;
    // The device path of the port side, e.g. /dev/pts/7.
    std::string PortPath() const;

    // The device's state; safe to call while it runs.
    void SetVersion(std::array<std::uint8_t, 3> version);
    void SetColdJunctionTenths(std::int16_t tenths);
    std::int16_t ColdJunctionTenths() const;
    void SetAdjustmentErrorTenths(std::int16_t tenths);
    void SetConfiguration(std::array<std::uint8_t, 14> frame);
    std::array<std::uint8_t, 14> Configuration() const;
    // Forgets the unlock preamble: the next command needs a new one.
    void Lock();
    // The unit leaves its fixture: the port stays, but nothing on the line hears or answers
    // (nor is anything recorded) until a unit is put in again, locked, with the state the
    // setters gave it meanwhile, so that it can come back as another unit.
    void TakeOut();
    void PutIn();

    // The next reply misbehaves as `fault` (kVanish acts at once when the next command arrives).
    void InjectFault(Fault fault);

    std::vector<ReceivedByte> ReceivedBytes() const;
    std::vector<std::uint8_t> ReceivedValues() const;
    std::vector<TraceEntry> Trace() const;
    void ClearRecords();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace sim
