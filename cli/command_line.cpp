#include "cli/command_line.h"

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <iterator>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <variant>
#include <vector>

#include "cli/access_code_prompt.h"
#include "cli/exchange.h"
#include "cli/sensor_names.h"
#include "cli/transmitter_cli_version.h"
#include "cli/write_entry.h"
#include "device/access_code.h"
#include "device/cold_junction_adjustment.h"
#include "device/protocol.h"
#include "device/text_conversion.h"
#include "serial/device_path.h"
#include "serial/port_discovery.h"

namespace {

// Key order as written, so that every line reads the same way round.
using Json = nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;

enum ExitCode : int {
    kExitOk = 0,
    kExitDevice = 1,
    kExitUsage = 2,
    kExitAccessCode = 3,
    kExitPort = 4,
};

constexpr std::string_view kProgram = "transmitter-cli";
constexpr const char* kAccessCodeVariable = "TRANSMITTER_ACCESS_CODE";
// The window's temperature box is read this far; a longer text is not one it would take whole.
constexpr std::size_t kTemperatureTextLimit = 20;

constexpr std::string_view kFooter =
    "Exit codes:\n"
    "  0  success\n"
    "  1  the transmitter did not answer, answered short, or a verify or adjustment check failed\n"
    "  2  usage error or refused entry (nothing is sent)\n"
    "  3  wrong access code (nothing is sent)\n"
    "  4  the port cannot be opened (busy, missing or no permission) or went away in use\n"
    "\n"
    "adjust takes the access code from TRANSMITTER_ACCESS_CODE, else asks for it on the terminal.";

// What the command line asked for, filled in by the parser.
struct Request {
    std::string port;
    bool json = false;
    bool trace = false;

    // write
    std::string sensor;
    std::int32_t upper = 0;
    std::int32_t lower = 0;
    std::string output;
    std::string fault;
    std::string compensation;
    std::string from;
    bool verify = false;

    // cold-junction
    int watch_seconds = 0;
    int count = 0;

    // adjust
    std::string temperature;
};

// One subcommand's run: where it reports, and the link its exchanges use.
struct Session {
    CliStreams& io;
    std::string subcommand;
    bool json = false;
    std::string port_name;  // as the window shows it
    Link link;

    int Fail(int code, std::string_view message) const {
        io.err << kProgram << ": " << subcommand << ": " << message << '\n' << std::flush;
        return code;
    }
    void Print(const std::string& text) const { io.out << text << '\n' << std::flush; }
    void PrintJson(const Json& object) const {
        Print(object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    }
};

int FailGenerally(CliStreams& io, int code, std::string_view message) {
    io.err << kProgram << ": " << message << '\n' << std::flush;
    return code;
}

// ---- Names and texts -----------------------------------------------------------------------

std::string ShownPortName(std::u16string_view port) {
#ifdef _WIN32
    return Utf8FromUtf16(port);
#else
    return Utf8FromUtf16(PortNameFromDevicePath(DevicePathFromPortName(port)));
#endif
}

std::string FirmwareText(const FirmwareVersion& version) {
    return std::to_string(version.major) + "." + std::to_string(version.minor) + "." +
           std::to_string(version.patch);
}

Json JsonByte(const SettingWords& words, const std::optional<std::uint8_t>& byte) {
    if (!byte) return nullptr;
    if (const auto word = WordOfByte(words, *byte)) return *word;
    return nullptr;
}

double Degrees(std::int32_t tenths) {
    return tenths / 10.0;
}

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

std::string LocalTimeStamp() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
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

std::string OpenFailureText(const OpenFailure& failure) {
    switch (failure.kind) {
        case OpenFailure::Kind::kMissing:
            return "missing (" + failure.system_message + ")";
        case OpenFailure::Kind::kBusy:
            return "busy (held by another program)";
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

int Report(const Session& session, const ExchangeError& error) {
    const std::string& port = session.port_name;
    switch (error.kind) {
        case ExchangeError::Kind::kOpen:
            return FailGenerally(session.io, kExitPort,
                                 "cannot open " + port + ": " + OpenFailureText(error.open));
        case ExchangeError::Kind::kSettings:
            return FailGenerally(
                session.io, kExitPort,
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
            return FailGenerally(session.io, kExitPort,
                                 "cannot use " + port + ": it went away (unplugged?)");
        case ExchangeError::Kind::kUnknownReplyLength:
            break;
    }
    return session.Fail(kExitDevice, "its configuration reply is unknown to this program");
}

template <typename T>
const ExchangeError* ErrorOf(const Result<T>& result) {
    return std::get_if<ExchangeError>(&result);
}

// The version, then the configuration its reply length follows.
struct ReadBack {
    FirmwareVersion firmware;
    DeviceConfiguration configuration;
};

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

// ---- ports, version, read, unlock ----------------------------------------------------------

int RunPorts(CliStreams& io, bool json) {
    const std::vector<std::u16string> ports =
        ListSerialPorts().value_or(std::vector<std::u16string>{});
    if (json) {
        Json names = Json::array();
        for (const std::u16string& port : ports) names.push_back(Utf8FromUtf16(port));
        Json object{{"ports", names}, {"default", nullptr}};
        if (!ports.empty()) object["default"] = Utf8FromUtf16(ports.back());
        io.out << object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
        return kExitOk;
    }
    for (std::size_t i = 0; i < ports.size(); ++i) {
        io.out << Utf8FromUtf16(ports[i]) << (i + 1 == ports.size() ? "  (default)" : "") << '\n';
    }
    return kExitOk;
}

int RunVersion(const Session& session) {
    const Result<FirmwareVersion> firmware = ReadFirmwareVersion(session.link);
    if (const ExchangeError* error = ErrorOf(firmware)) return Report(session, *error);
    const std::string text = FirmwareText(std::get<FirmwareVersion>(firmware));
    if (session.json) {
        session.PrintJson(Json{{"port", session.port_name}, {"firmware", text}});
    } else {
        session.Print(text);
    }
    return kExitOk;
}

int RunRead(const Session& session) {
    const std::variant<ReadBack, int> read = ReadDevice(session);
    if (const int* code = std::get_if<int>(&read)) return *code;
    const auto& [firmware, configuration] = std::get<ReadBack>(read);
    const std::string sensor = SensorText(configuration.sensor_code);
    if (session.json) {
        Json object{{"port", session.port_name},
                    {"firmware", FirmwareText(firmware)},
                    {"sensor", sensor},
                    {"upper", configuration.upper},
                    {"lower", SignedLower(configuration)}};
        // An 11-byte reply holds neither.
        if (configuration.output) object["output"] = JsonByte(kOutputWords, configuration.output);
        if (configuration.fault) object["fault"] = JsonByte(kFaultWords, configuration.fault);
        session.PrintJson(object);
        return kExitOk;
    }
    std::string line = "firmware " + FirmwareText(firmware) + "  sensor " + sensor + "  upper " +
                       std::to_string(configuration.upper) + "  lower " +
                       std::to_string(SignedLower(configuration));
    if (configuration.output) line += "  output " + ShownByte(kOutputWords, *configuration.output);
    if (configuration.fault) line += "  fault " + ShownByte(kFaultWords, *configuration.fault);
    session.Print(line);
    return kExitOk;
}

int RunUnlock(const Session& session) {
    const Result<std::monostate> sent = SendUnlock(session.link);
    if (const ExchangeError* error = ErrorOf(sent)) return Report(session, *error);
    if (session.json) {
        session.PrintJson(Json{{"port", session.port_name}, {"unlocked", true}});
    } else {
        session.Print("unlocked");
    }
    return kExitOk;
}

// ---- write ---------------------------------------------------------------------------------

// The --from file's text; none when it cannot be read.
std::optional<std::string> FileText(CliStreams& io, const std::string& from) {
    if (from == "-") {
        return std::string(std::istreambuf_iterator<char>(io.in), std::istreambuf_iterator<char>());
    }
    // The name is UTF-8 on every platform; Windows opens it by its UTF-16 form.
    std::ifstream file(std::filesystem::path(std::u8string(from.begin(), from.end())),
                       std::ios::binary);
    if (!file) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

int RunWrite(const Session& session, const Request& request, const CLI::App& command) {
    WriteEntry entry;
    if (!request.from.empty()) {
        const std::optional<std::string> text = FileText(session.io, request.from);
        if (!text) return session.Fail(kExitUsage, "cannot read " + request.from);
        const std::string source = request.from == "-" ? "standard input" : request.from;
        if (auto error = TakeWriteEntry(*text, source, entry)) {
            return session.Fail(kExitUsage, *error);
        }
    }
    const auto given = [&command](const char* option) { return command.count(option) > 0; };
    if (given("--sensor")) entry.sensor = request.sensor;
    if (given("--upper")) entry.upper = request.upper;
    if (given("--lower")) entry.lower = request.lower;
    if (given("--output")) entry.output = request.output;
    if (given("--fault")) entry.fault = request.fault;
    if (given("--compensation")) entry.compensation = request.compensation;

    CheckedEntry checked;
    if (auto refusal = EntryRefusal(entry, checked)) return session.Fail(kExitUsage, *refusal);

    const ConfigFrameSlots frame = BuildConfigurationFrame(
        checked.sensor_code, checked.upper, checked.lower < 0 ? -checked.lower : checked.lower,
        checked.lower < 0, checked.output, checked.fault, checked.compensation);
    const Result<std::monostate> written = WriteConfiguration(session.link, frame);
    if (const ExchangeError* error = ErrorOf(written)) return Report(session, *error);

    const std::string sensor = SensorText(checked.sensor_code);
    const std::string output = ShownByte(kOutputWords, checked.output);
    const std::string fault = ShownByte(kFaultWords, checked.fault);
    const std::string compensation = ShownByte(kCompensationWords, checked.compensation);
    Json object{{"port", session.port_name},   {"sensor", sensor}, {"upper", checked.upper},
                {"lower", checked.lower},      {"output", output}, {"fault", fault},
                {"compensation", compensation}};
    if (!session.json) {
        session.Print("wrote sensor " + sensor + "  upper " + std::to_string(checked.upper) +
                      "  lower " + std::to_string(checked.lower) + "  output " + output +
                      "  fault " + fault + "  compensation " + compensation);
    }
    if (!request.verify) {
        if (session.json) session.PrintJson(object);
        return kExitOk;
    }

    const std::variant<ReadBack, int> read = ReadDevice(session);
    if (const int* code = std::get_if<int>(&read)) return *code;
    const DeviceConfiguration& reads = std::get<ReadBack>(read).configuration;
    const std::string differences = ReadBackDifferences(checked, reads);
    if (session.json) {
        object["verified"] = differences.empty();
        session.PrintJson(object);
    } else if (differences.empty()) {
        session.Print(reads.output && reads.fault
                          ? "verified"
                          : "verified (output and fault not in this firmware's reply)");
    }
    if (!differences.empty()) return session.Fail(kExitDevice, "verify failed: " + differences);
    return kExitOk;
}

// ---- cold-junction -------------------------------------------------------------------------

int RunColdJunction(const Session& session, const Request& request) {
    const bool watching = request.watch_seconds > 0;
    auto next = Clock::now();
    for (int done = 0; !watching || request.count == 0 || done < request.count; ++done) {
        std::this_thread::sleep_until(next);
        next += std::chrono::seconds(request.watch_seconds);
        const Result<std::int16_t> reading = ReadColdJunctionTenths(session.link);
        if (const ExchangeError* error = ErrorOf(reading)) return Report(session, *error);
        const std::int16_t tenths = std::get<std::int16_t>(reading);
        if (session.json) {
            Json object;
            if (watching) object["time"] = LocalTimeStamp();
            object["port"] = session.port_name;
            object["temperature"] = Degrees(tenths);
            session.PrintJson(object);
        } else {
            session.Print((watching ? LocalTimeStamp() + "  " : std::string()) +
                          TenthsText(tenths));
        }
        if (!watching) break;
    }
    return kExitOk;
}

// ---- adjust --------------------------------------------------------------------------------

std::optional<std::string> AccessCode(CliStreams& io) {
    std::optional<std::string> code;
    if (io.environment) {
        code = io.environment(kAccessCodeVariable);
    } else if (const char* value = std::getenv(kAccessCodeVariable)) {
        code = value;
    }
    if (code) return code;
    return io.ask_access_code ? io.ask_access_code(io.in, io.err) : PromptAccessCode(io.in, io.err);
}

int RunAdjust(const Session& session, const Request& request) {
    const std::u16string text = Utf16FromUtf8(request.temperature);
    const std::optional<std::int16_t> wanted =
        text.size() <= kTemperatureTextLimit ? WantedColdJunctionTenths(text) : std::nullopt;
    if (!wanted) {
        return session.Fail(kExitUsage, "\"" + request.temperature +
                                            "\" is not a temperature: write degrees with a "
                                            "point, like 25, 25.0 or -5.2");
    }
    const std::optional<std::string> code = AccessCode(session.io);
    if (!code) {
        return session.Fail(kExitUsage, std::string("no access code: set ") + kAccessCodeVariable +
                                            " or run on a terminal");
    }
    // The window's own test of the code, without granting the window anything.
    if (ParseLeadingInteger(Utf16FromUtf8(*code)) != kAccessCode) {
        return session.Fail(kExitAccessCode, "wrong access code");
    }

    const Result<std::int16_t> adjusted = AdjustColdJunction(session.link, *wanted);
    if (const ExchangeError* error = ErrorOf(adjusted)) return Report(session, *error);
    const std::int16_t reads = std::get<std::int16_t>(adjusted);

    // Judged as the window judges it: the typed value against the read-back, within a degree.
    const double typed = ParseLeadingDecimal(TextToByteNarrowing(text));
    const double device = Degrees(reads);
    const bool ok = typed >= device ? typed - device < 1.0 : device - typed < 1.0;
    if (session.json) {
        session.PrintJson(Json{{"port", session.port_name},
                               {"wanted", Degrees(*wanted)},
                               {"temperature", device},
                               {"ok", ok}});
    } else {
        session.Print("adjusted to " + TenthsText(*wanted) + ", reads " + TenthsText(reads));
    }
    if (ok) return kExitOk;
    const std::int32_t off = reads > *wanted ? reads - *wanted : *wanted - reads;
    return session.Fail(kExitDevice, "the transmitter reads " + TenthsText(reads) + ", " +
                                         TenthsText(off) + " from " + TenthsText(*wanted));
}

// ---- The command line ----------------------------------------------------------------------

int Dispatch(CliStreams& io, const Request& request, const CLI::App& command,
             Clock::time_point start) {
    const std::string name = command.get_name();
    if (name == "ports") return RunPorts(io, request.json);

    Session session{io, name, request.json, {}, {}};
    if (!request.port.empty()) {
        session.link.port = Utf16FromUtf8(request.port);
    } else {
        const std::vector<std::u16string> ports =
            ListSerialPorts().value_or(std::vector<std::u16string>{});
        if (ports.empty()) return FailGenerally(io, kExitPort, "no serial port found");
        session.link.port = ports.back();
    }
    session.port_name = ShownPortName(session.link.port);
    if (request.trace) session.link.trace = TraceTo(io.err, start);

    if (name == "version") return RunVersion(session);
    if (name == "read") return RunRead(session);
    if (name == "write") return RunWrite(session, request, command);
    if (name == "cold-junction") return RunColdJunction(session, request);
    if (name == "adjust") return RunAdjust(session, request);
    return RunUnlock(session);
}

int Run(const std::vector<std::string>& args, CliStreams& io, Clock::time_point start) {
    Request request;
    CLI::App app{
        "Reads and writes the configuration of a temperature transmitter on a serial "
        "port.",
        std::string(kProgram)};
    app.set_version_flag("--version", std::string(kProgram) + " " + kTransmitterCliVersion,
                         "Print the program's version and exit");
    app.set_help_flag("-h,--help", "Print this help and exit");
    app.footer(std::string(kFooter));
    app.require_subcommand(1);
    // The global options may follow the subcommand too.
    app.fallthrough();
    app.add_option("--port", request.port,
                   "The serial port: ttyUSB0, /dev/ttyUSB0, COM3 (default: the last one `ports` "
                   "lists)")
        ->type_name("NAME");
    app.add_flag("--json", request.json, "One JSON object per result on standard output");
    app.add_flag("--trace", request.trace,
                 "Every frame both ways on standard error, with milliseconds since the start");

    app.add_subcommand("ports", "List the serial ports; the last one is the default");
    app.add_subcommand("version", "Read the transmitter's firmware version");
    app.add_subcommand("read", "Read the transmitter's configuration");
    CLI::App* write = app.add_subcommand(
        "write", "Write a configuration; every field is needed, from the options or --from");
    write->add_option("--sensor", request.sensor, "The sensor: " + SensorNameList())
        ->type_name("NAME");
    write->add_option("--upper", request.upper, "The upper limit in degrees")->type_name("N");
    write->add_option("--lower", request.lower, "The lower limit in degrees, -50 for minus 50")
        ->type_name("N");
    write->add_option("--output", request.output, "The output current in mA")
        ->type_name("4-20|0-20");
    write->add_option("--fault", request.fault, "The output's level on a sensor fault")
        ->type_name("high|low");
    write->add_option("--compensation", request.compensation, "Cold-junction compensation")
        ->type_name("on|off");
    write
        ->add_option("--from", request.from,
                     "The configuration as `read --json` prints it; - reads standard input. "
                     "Options given override its fields")
        ->type_name("FILE");
    write->add_flag("--verify", request.verify, "Read the configuration back and compare");
    // Without a description, so that the help shows the option's value as SECONDS, not as
    // its range.
    const CLI::Validator kAtLeastOne =
        CLI::Range(1, std::numeric_limits<int>::max()).description("");
    CLI::App* cold_junction =
        app.add_subcommand("cold-junction", "Read the cold-junction temperature in degrees");
    CLI::Option* watch =
        cold_junction
            ->add_option("--watch", request.watch_seconds,
                         "Read again every SECONDS seconds, each line with its local time")
            ->type_name("SECONDS")
            ->check(kAtLeastOne);
    cold_junction->add_option("--count", request.count, "Stop the watch after N readings")
        ->type_name("N")
        ->check(kAtLeastOne)
        ->needs(watch);
    CLI::App* adjust = app.add_subcommand(
        "adjust", "Set the true cold-junction temperature and check the reading follows it");
    adjust->add_option("TEMPERATURE", request.temperature, "Degrees with a point: 25, 25.0, -5.2")
        ->type_name("")
        ->required();
    app.add_subcommand("unlock", "Send the unlock preamble alone");

    try {
        // CLI11 takes its arguments last first.
        app.parse(std::vector<std::string>(args.rbegin(), args.rend()));
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0) return app.exit(error, io.out, io.err);
        const std::vector<CLI::App*> chosen = app.get_subcommands();
        const std::vector<std::string> left = app.remaining();
        // CLI11 calls a mistyped subcommand a missing one.
        const std::string message = chosen.empty() && !left.empty()
                                        ? "unknown subcommand " + left.front()
                                        : std::string(error.what());
        return FailGenerally(
            io, kExitUsage,
            (chosen.empty() ? "" : chosen.front()->get_name() + ": ") + message + " (see --help)");
    }
    return Dispatch(io, request, *app.get_subcommands().front(), start);
}

}  // namespace

int RunCommandLine(const std::vector<std::string>& args, CliStreams& io) {
    const Clock::time_point start = Clock::now();
    try {
        return Run(args, io, start);
    } catch (const std::exception& error) {
        return FailGenerally(io, kExitDevice, error.what());
    }
}
