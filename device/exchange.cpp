#include "device/exchange.h"

#include <algorithm>
#include <chrono>
#include <span>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The device takes a command only this long after the preamble has gone out.
constexpr auto kUnlockSettleTime = 500ms;
// The device needs this long to settle on the temperature it was given before it reads true.
constexpr auto kAdjustSettleTime = 5500ms;

using Bytes = std::vector<std::uint8_t>;

void Tell(const Link& link, Direction direction, const Bytes& bytes, std::string_view meaning) {
    if (link.trace) link.trace(direction, bytes, meaning);
}

template <typename T>
const ExchangeError* ErrorOf(const Result<T>& result) {
    return std::get_if<ExchangeError>(&result);
}

ExchangeError Failed(ExchangeError::Kind kind) {
    return ExchangeError{kind};
}

bool Stopped(const Link& link) {
    return link.stop != nullptr && link.stop->load() != 0;
}

// An opening with the line settings every opening gets and the profile's time-outs.
Result<SerialPort> Open(const Link& link, const PortTimeouts& timeouts) {
    if (Stopped(link)) return Failed(ExchangeError::Kind::kStopped);
    OpenFailure failure;
    SerialPort port = OpenSerialDevice(link.port, &failure);
    if (!port.IsOpen()) return ExchangeError{ExchangeError::Kind::kOpen, std::move(failure)};
    if (!ReadLineSettings(port) || !ApplyLineSettings(port)) {
        return Failed(ExchangeError::Kind::kSettings);
    }
    SetEventMaskAndQueues(port);
    if (!ApplyTimeouts(port, timeouts)) return Failed(ExchangeError::Kind::kSettings);
    // Whatever the device sent before this opening answers nothing asked in it.
    DiscardBuffers(port);
    return port;
}

// Sends the frame and waits until it has left the port. Input is not discarded here: a read
// counted as pending around a command keeps its reply.
std::optional<ExchangeError> Send(const Link& link, SerialPort& port,
                                  std::span<const std::uint16_t> frame, std::string_view meaning) {
    Bytes bytes;
    for (std::uint16_t slot : frame) bytes.push_back(static_cast<std::uint8_t>(slot & 0xFF));
    Tell(link, Direction::kToDevice, bytes, meaning);
    const long written = WriteSerial(port, bytes.data(), bytes.size());
    if (written < 0) return Failed(ExchangeError::Kind::kPortLost);
    // A frame cut short reaches the device as a different command.
    if (static_cast<std::size_t>(written) < bytes.size()) {
        return Failed(ExchangeError::Kind::kSend);
    }
    DiscardBuffers(port);
    return std::nullopt;
}

// Reads exactly `length` bytes within the opening's read time-out.
Result<Bytes> Receive(const Link& link, SerialPort& port, std::size_t length) {
    Bytes reply(length);
    const long received = ReadSerial(port, reply.data(), reply.size());
    // A hung-up terminal (an adapter pulled out) wakes the read at once; waiting out the
    // time-out on it would only report the wrong cause.
    if (received < 0) return Failed(ExchangeError::Kind::kPortLost);
    if (received == 0) {
        ExchangeError error = Failed(ExchangeError::Kind::kNoReply);
        error.expected = length;
        return error;
    }
    if (static_cast<std::size_t>(received) < length) {
        reply.resize(static_cast<std::size_t>(received));
        Tell(link, Direction::kFromDevice, reply,
             "short reply, " + std::to_string(received) + " of " + std::to_string(length) +
                 " bytes");
        ExchangeError error = Failed(ExchangeError::Kind::kShortReply);
        error.received = reply.size();
        error.expected = length;
        return error;
    }
    return reply;
}

// Opening 1: the preamble alone. Gives the time it had gone out.
Result<Clock::time_point> Unlock(const Link& link) {
    Result<SerialPort> port = Open(link, kMonitoredTimeouts);
    if (const ExchangeError* error = ErrorOf(port)) return *error;
    if (auto error = Send(link, std::get<SerialPort>(port), UnlockPreamble, "unlock")) {
        return *error;
    }
    return Clock::now();
}

// Opening 2, once the device has had its time since `after`: the command and, when
// `reply_length` is not 0, its reply, read without any discard in between.
Result<Bytes> Command(const Link& link, Clock::time_point after,
                      std::span<const std::uint16_t> frame, std::string_view meaning,
                      std::size_t reply_length) {
    if (!PauseUntil(link, after)) return Failed(ExchangeError::Kind::kStopped);
    Result<SerialPort> opened = Open(link, kMonitoredTimeouts);
    if (const ExchangeError* error = ErrorOf(opened)) return *error;
    SerialPort& port = std::get<SerialPort>(opened);
    const PendingRead owed(port.pending_reads);
    if (auto error = Send(link, port, frame, meaning)) return *error;
    if (reply_length == 0) return Bytes{};
    return Receive(link, port, reply_length);
}

// Both openings of an exchange.
Result<Bytes> Exchange(const Link& link, std::span<const std::uint16_t> frame,
                       std::string_view meaning, std::size_t reply_length) {
    const Result<Clock::time_point> unlocked = Unlock(link);
    if (const ExchangeError* error = ErrorOf(unlocked)) return *error;
    return Command(link, std::get<Clock::time_point>(unlocked) + kUnlockSettleTime, frame, meaning,
                   reply_length);
}

Result<Bytes> ExchangeCommand(const Link& link, std::uint16_t command, std::string_view meaning,
                              std::size_t reply_length) {
    const std::uint16_t frame[] = {command};
    return Exchange(link, frame, meaning, reply_length);
}

Result<std::int16_t> ColdJunctionFrom(const Link& link, const Result<Bytes>& reply) {
    if (const ExchangeError* error = ErrorOf(reply)) return *error;
    const Bytes& bytes = std::get<Bytes>(reply);
    const std::int16_t tenths = DecodeColdJunctionTenths(bytes.data());
    Tell(link, Direction::kFromDevice, bytes, "cold junction " + TenthsText(tenths));
    return tenths;
}

}  // namespace

bool PauseUntil(const Link& link, Clock::time_point until) {
    // A signal cannot wake a sleeping thread portably, so the wait looks at the stop this often:
    // soon enough for a person, and seldom enough for a station's idle slots.
    constexpr auto kLookEvery = 100ms;
    while (!Stopped(link)) {
        const auto now = Clock::now();
        if (now >= until) return true;
        std::this_thread::sleep_until(std::min(until, now + kLookEvery));
    }
    return false;
}

std::string TenthsText(std::int32_t tenths) {
    const std::int32_t magnitude = tenths < 0 ? -tenths : tenths;
    return (tenths < 0 ? "-" : "") + std::to_string(magnitude / 10) + "." +
           std::to_string(magnitude % 10);
}

std::string FirmwareText(const FirmwareVersion& version) {
    return std::to_string(version.major) + "." + std::to_string(version.minor) + "." +
           std::to_string(version.patch);
}

Result<FirmwareVersion> ReadFirmwareVersion(const Link& link) {
    const Result<Bytes> reply =
        ExchangeCommand(link, kCommandReadVersion, "read version", kVersionReplyLength);
    if (const ExchangeError* error = ErrorOf(reply)) return *error;
    const Bytes& bytes = std::get<Bytes>(reply);
    const FirmwareVersion version{bytes[0], bytes[1], bytes[2]};
    Tell(link, Direction::kFromDevice, bytes, "version " + FirmwareText(version));
    return version;
}

Result<DeviceConfiguration> ReadConfiguration(const Link& link, const FirmwareVersion& firmware) {
    const std::size_t length = SensorReplyLength(firmware.patch);
    if (length == 0) return Failed(ExchangeError::Kind::kUnknownReplyLength);
    Result<Bytes> reply =
        ExchangeCommand(link, kCommandReadConfiguration, "read configuration", length);
    if (const ExchangeError* error = ErrorOf(reply)) return *error;
    Bytes& bytes = std::get<Bytes>(reply);
    Tell(link, Direction::kFromDevice, bytes,
         "configuration " + std::to_string(bytes.size()) + " bytes");

    const DecodedRange range = DecodeRange(bytes.data());
    DeviceConfiguration configuration;
    configuration.sensor_code = bytes[kFrameSensorType];
    configuration.upper = range.upper;
    configuration.lower_magnitude = range.lower;
    configuration.lower_negative = range.lower_negative;
    if (bytes.size() > kFrameFaultLevel) {
        configuration.output = bytes[kFrameOutputType];
        configuration.fault = bytes[kFrameFaultLevel];
    }
    configuration.reply = std::move(bytes);
    return configuration;
}

Result<std::monostate> WriteConfiguration(const Link& link, const ConfigFrameSlots& frame) {
    const Result<Bytes> sent = Exchange(link, frame, "write configuration", 0);
    if (const ExchangeError* error = ErrorOf(sent)) return *error;
    return std::monostate{};
}

Result<std::int16_t> ReadColdJunctionTenths(const Link& link) {
    return ColdJunctionFrom(link, ExchangeCommand(link, kCommandReadColdJunction,
                                                  "read cold junction", kColdJunctionReplyLength));
}

Result<std::int16_t> AdjustColdJunction(const Link& link, std::int16_t wanted_tenths) {
    Clock::time_point adjusted;
    {
        // No reply belongs to this opening, so it is the quick one: preamble and frame go out
        // one after the other.
        Result<SerialPort> opened = Open(link, kQuickTimeouts);
        if (const ExchangeError* error = ErrorOf(opened)) return *error;
        SerialPort& port = std::get<SerialPort>(opened);
        if (auto error = Send(link, port, UnlockPreamble, "unlock")) return *error;
        if (auto error = Send(link, port, BuildAdjustFrame(wanted_tenths),
                              "adjust to " + TenthsText(wanted_tenths))) {
            return *error;
        }
        adjusted = Clock::now();
    }
    // Still unlocked from the adjustment's own preamble.
    const std::uint16_t frame[] = {kCommandReadColdJunction};
    return ColdJunctionFrom(link, Command(link, adjusted + kAdjustSettleTime, frame,
                                          "read cold junction", kColdJunctionReplyLength));
}

Result<std::monostate> SendUnlock(const Link& link) {
    const Result<Clock::time_point> unlocked = Unlock(link);
    if (const ExchangeError* error = ErrorOf(unlocked)) return *error;
    return std::monostate{};
}

ConfigFrameSlots BuildConfigurationFrame(std::uint8_t sensor_code, std::int32_t upper,
                                         std::int32_t lower_magnitude, bool lower_negative,
                                         std::uint8_t output, std::uint8_t fault,
                                         std::uint8_t compensation) {
    ConfigFrameSlots frame = kConfigFrameStart;
    frame[kFrameSensorType] = sensor_code;
    EncodeRange(frame, upper, lower_magnitude, lower_negative);
    frame[kFrameOutputType] = output;
    frame[kFrameFaultLevel] = fault;
    frame[kFrameColdJunctionCompensation] = compensation;
    return frame;
}
