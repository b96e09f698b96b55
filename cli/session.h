#pragma once

#include <chrono>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <variant>

#include "cli/command_line.h"
#include "device/exchange.h"

// Key order as written, so that every line reads the same way round.
using Json = nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;

enum ExitCode : int {
    kExitOk = 0,
    kExitDevice = 1,
    kExitUsage = 2,
    kExitAccessCode = 3,
    kExitPort = 4,
    // As a program ended by SIGPIPE, though this one ends by itself, quietly.
    kExitOutputGone = 141,
};

inline constexpr std::string_view kProgram = "transmitter-cli";

int FailGenerally(CliStreams& io, int code, std::string_view message);

// One subcommand's run: where it reports, and the link its exchanges use.
struct Session {
    CliStreams& io;
    std::string subcommand;
    bool json = false;
    std::string port_name;  // as the window shows it
    Link link;
    // The last error said, for the unit's journal row.
    mutable std::string failure;

    int Fail(int code, std::string_view message) const {
        failure = message;
        io.err << kProgram << ": " << subcommand << ": " << message << '\n' << std::flush;
        return code;
    }
    // The same, said without the subcommand's name, as for the port's errors.
    int FailAbout(int code, std::string_view message) const {
        failure = message;
        return FailGenerally(io, code, message);
    }
    // Whether the line went out; a failure is noted in `io` and reported at the end.
    bool Print(const std::string& text) const;
    bool PrintJson(const Json& object) const {
        return Print(object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    }
};

// Flushes standard output and notes in `io` why it failed, if it did; false then.
bool OutputWentOut(CliStreams& io);
// The run's exit code once its output is judged: 1 with the reason on standard error when the
// output failed, kExitOutputGone without a word when its reader went away.
int JudgeOutput(CliStreams& io, int code);

std::string ShownPortName(std::u16string_view port);
// The port as the user named it, checked; none, with the usage error reported, when it is no
// name at all (empty, blank, or with blanks around it). A name with a slash is a path from the
// current folder; a bare name is looked up under /dev.
std::optional<std::u16string> NamedPort(CliStreams& io, const std::string& name);
// The environment variable, through the test's seam when there is one.
std::optional<std::string> EnvironmentValue(CliStreams& io, const std::string& name);
FrameTrace TraceTo(std::ostream& err, Clock::time_point start);

// The exchange's error on standard error, and the exit code it ends the run with; for a stop,
// the stopping signal's.
int Report(const Session& session, const ExchangeError& error);

template <typename T>
const ExchangeError* ErrorOf(const Result<T>& result) {
    return std::get_if<ExchangeError>(&result);
}

// The version, then the configuration its reply length follows.
struct ReadBack {
    FirmwareVersion firmware;
    DeviceConfiguration configuration;
};

// The exit code instead when either exchange fails.
std::variant<ReadBack, int> ReadDevice(const Session& session);
