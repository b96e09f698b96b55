#include "cli/session.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iomanip>
#include <sstream>
#include <system_error>
#include <vector>

#include "cli/stop_signal.h"
#include "serial/device_path.h"

namespace {

std::string HexBytes(const std::vector<std::uint8_t>& bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (std::uint8_t byte : bytes) {
        if (!text.empty()) text += ' ';
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

std::string OpenFailureText(const OpenFailure& failure) {
    switch (failure.kind) {
        case OpenFailure::Kind::kMissing:
            return "missing (" + failure.system_message + ")";
        case OpenFailure::Kind::kBusy:
            return "busy (held by another program: " + failure.system_message + ")";
        case OpenFailure::Kind::kNoPermission:
#ifdef __linux__
            return "no permission (" + failure.system_message +
                   "); add the user to the dialout group";
#else
            return "no permission (" + failure.system_message + ")";
#endif
        case OpenFailure::Kind::kOther:
            break;
    }
    return failure.system_message.empty() ? std::string("failed") : failure.system_message;
}

}  // namespace

std::optional<std::string> EnvironmentValue(CliStreams& io, const std::string& name) {
    if (io.environment) return io.environment(name);
    if (const char* value = std::getenv(name.c_str())) return std::string(value);
    return std::nullopt;
}

int FailGenerally(CliStreams& io, int code, std::string_view message) {
    io.err << kProgram << ": " << message << '\n' << std::flush;
    return code;
}

bool OutputWentOut(CliStreams& io) {
    io.out.flush();
    if (io.out) return true;
    // The stream keeps no cause; the failed write's is still in errno right after it.
    if (io.output_error == 0) io.output_error = errno != 0 ? errno : EIO;
    return false;
}

int JudgeOutput(CliStreams& io, int code) {
    if (OutputWentOut(io)) return code;
    if (io.output_error == EPIPE) return kExitOutputGone;
    FailGenerally(io, kExitDevice,
                  "cannot write the output: " + std::generic_category().message(io.output_error));
    return code == kExitOk ? kExitDevice : code;
}

bool Session::Print(const std::string& text) const {
    io.out << text << '\n';
    return OutputWentOut(io);
}

// ---- Names and texts -----------------------------------------------------------------------

// The port as the user named it, checked; none, with the usage error reported, when it is no
// name at all. An empty --port (a script's unset variable) must never fall back to the default
// port and configure whatever is there.
std::optional<std::u16string> NamedPort(CliStreams& io, const std::string& name) {
    constexpr std::string_view kBlanks = " \t\r\n\v\f";
    if (name.find_first_not_of(kBlanks) == std::string::npos) {
        FailGenerally(io, kExitUsage, "--port is empty (see --help)");
        return std::nullopt;
    }
    if (kBlanks.find(name.front()) != std::string_view::npos ||
        kBlanks.find(name.back()) != std::string_view::npos) {
        FailGenerally(io, kExitUsage, "--port \"" + name + "\" has blanks around the name");
        return std::nullopt;
    }
#ifndef _WIN32
    // A name with a slash is a path from here, as every other program reads one; only a bare
    // name is looked up under /dev.
    if (name.find('/') != std::string::npos && name.front() != '/') {
        std::error_code error;
        const std::filesystem::path here = std::filesystem::current_path(error);
        if (!error) return Utf16FromUtf8((here / name).lexically_normal().string());
    }
#endif
    return Utf16FromUtf8(name);
}

std::string ShownPortName(std::u16string_view port) {
#ifdef _WIN32
    return Utf8FromUtf16(port);
#else
    return Utf8FromUtf16(PortNameFromDevicePath(DevicePathFromPortName(port)));
#endif
}

FrameTrace TraceTo(std::ostream& err, Clock::time_point start) {
    return [&err, start](Direction direction, const std::vector<std::uint8_t>& bytes,
                         std::string_view meaning) {
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        std::ostringstream line;
        line << std::setw(8) << elapsed << " ms  "
             << (direction == Direction::kToDevice ? "->" : "<-") << ' ' << std::left
             << std::setw(18) << HexBytes(bytes) << "  " << meaning << '\n';
        err << line.str() << std::flush;
    };
}

// ---- Errors of the exchanges ---------------------------------------------------------------

int Report(const Session& session, const ExchangeError& error) {
    const std::string& port = session.port_name;
    switch (error.kind) {
        case ExchangeError::Kind::kOpen:
            return session.FailAbout(kExitPort,
                                     "cannot open " + port + ": " + OpenFailureText(error.open));
        case ExchangeError::Kind::kSettings:
            return session.FailAbout(
                kExitPort,
                "cannot open " + port + ": not a serial port (its line settings were refused)");
        case ExchangeError::Kind::kSend:
            return session.Fail(kExitDevice, "a frame did not go out on " + port + " in time");
        case ExchangeError::Kind::kNoReply:
            return session.Fail(kExitDevice, "the transmitter on " + port + " did not answer");
        case ExchangeError::Kind::kShortReply:
            return session.Fail(kExitDevice, "the transmitter on " + port + " answered short: " +
                                                 std::to_string(error.received) + " of " +
                                                 std::to_string(error.expected) + " bytes");
        case ExchangeError::Kind::kPortLost:
            return session.FailAbout(kExitPort,
                                     "cannot use " + port + ": it went away (unplugged?)");
        case ExchangeError::Kind::kStopped: {
            const int signal = session.link.stop->load();
            return session.Fail(ExitCodeForSignal(signal), StopReason(signal));
        }
        case ExchangeError::Kind::kUnknownReplyLength:
            break;
    }
    return session.Fail(kExitDevice, "its configuration reply is unknown to this program");
}

std::variant<ReadBack, int> ReadDevice(const Session& session) {
    const Result<FirmwareVersion> firmware = ReadFirmwareVersion(session.link);
    if (const ExchangeError* error = ErrorOf(firmware)) return Report(session, *error);
    const FirmwareVersion& version = std::get<FirmwareVersion>(firmware);
    const Result<DeviceConfiguration> configuration = ReadConfiguration(session.link, version);
    if (const ExchangeError* error = ErrorOf(configuration)) {
        if (error->kind == ExchangeError::Kind::kUnknownReplyLength) {
            return session.Fail(kExitDevice, "firmware " + FirmwareText(version) +
                                                 ": its configuration reply is unknown to "
                                                 "this program");
        }
        return Report(session, *error);
    }
    return ReadBack{version, std::get<DeviceConfiguration>(configuration)};
}
