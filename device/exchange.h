#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "device/protocol.h"
#include "serial/serial_port.h"  // OpenFailure

enum class Direction { kToDevice, kFromDevice };
// Told of every frame both ways, with what it means ("unlock", "read version",
// "version 1.0.3", "configuration 14 bytes", "cold junction 23.4", "adjust to 25.0", "write
// configuration"); a short reply is told too, with what arrived.
using FrameTrace = std::function<void(Direction, const std::vector<std::uint8_t>& bytes,
                                      std::string_view meaning)>;

// Where the exchanges go: the port as the user named it ("ttyUSB0", "/dev/ttyUSB0", "COM3",
// any path), who is told of the frames (may be empty), and what asks them to stop: a nonzero
// value (a signal's number) stops an exchange before its next opening or at its next wait, so
// that no frame is cut short and the port closes the normal way.
struct Link {
    std::u16string port;
    FrameTrace trace;
    const std::atomic<int>* stop = nullptr;
};

struct ExchangeError {
    enum class Kind {
        kOpen,        // the port could not be opened (`open` says why)
        kSettings,    // line settings or time-outs refused by the port
        kSend,        // not all bytes of a frame went out in time
        kNoReply,     // nothing arrived within the read time-out
        kShortReply,  // some bytes, fewer than the reply's length (`received` of `expected`)
        kUnknownReplyLength,  // firmware whose configuration reply length is unknown (byte 2 >= 4)
        kPortLost,  // the port failed under a read or a write: unplugged, or its driver gone
        kStopped,   // the link's stop was set
    } kind;
    OpenFailure open{};        // with kOpen
    std::size_t received = 0;  // with kShortReply / kNoReply
    std::size_t expected = 0;
};

template <typename T>
using Result = std::variant<T, ExchangeError>;  // a value, or why there is none

struct FirmwareVersion {
    std::uint8_t major = 0, minor = 0, patch = 0;
};  // the reply's 3 bytes

struct DeviceConfiguration {
    std::uint8_t sensor_code = 0;  // byte 1
    std::int32_t upper = 0;        // decoded as the window decodes it (DecodeRange)
    std::int32_t lower_magnitude = 0;
    bool lower_negative = false;
    std::optional<std::uint8_t> output;  // byte 11 (absent from an 11-byte reply)
    std::optional<std::uint8_t> fault;   // byte 12 (absent from an 11-byte reply)
    std::vector<std::uint8_t> reply;     // the raw reply
};

// Each: opening 1 sends the preamble and closes; opening 2, at least 500 ms after the
// preamble, sends the command and reads the reply, returning as soon as it is whole.
Result<FirmwareVersion> ReadFirmwareVersion(const Link& link);
// The reply length follows `firmware.patch` (SensorReplyLength).
Result<DeviceConfiguration> ReadConfiguration(const Link& link, const FirmwareVersion& firmware);
Result<std::monostate> WriteConfiguration(const Link& link, const ConfigFrameSlots& frame);
Result<std::int16_t> ReadColdJunctionTenths(const Link& link);
// One quick-profile opening: preamble then BuildAdjustFrame(wanted_tenths); closed; 5.5 s later
// a monitored opening sends 0x45 (no preamble) and reads the 2-byte reply: the read-back tenths.
Result<std::int16_t> AdjustColdJunction(const Link& link, std::int16_t wanted_tenths);
// The preamble alone, on a monitored-profile opening.
Result<std::monostate> SendUnlock(const Link& link);

// The frame a configuration entry goes out as: kConfigFrameStart with the type code, the range
// (EncodeRange), output (byte 11), fault (byte 12) and compensation (byte 13) set.
ConfigFrameSlots BuildConfigurationFrame(std::uint8_t sensor_code, std::int32_t upper,
                                         std::int32_t lower_magnitude, bool lower_negative,
                                         std::uint8_t output, std::uint8_t fault,
                                         std::uint8_t compensation);

// Waits until `until` unless the link's stop comes first; false when it did.
bool PauseUntil(const Link& link, std::chrono::steady_clock::time_point until);

// Tenths of a degree with one decimal, as the command line shows temperatures and the trace
// tells them: "23.4", "-5.2", "0.0".
std::string TenthsText(std::int32_t tenths);
// The firmware version as it is shown and told: "1.0.3".
std::string FirmwareText(const FirmwareVersion& version);
