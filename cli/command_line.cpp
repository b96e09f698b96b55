#include "cli/command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <exception>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/session.h"
#include "cli/stop_signal.h"
#include "cli/subcommands.h"
#include "cli/transmitter_cli_version.h"
#include "device/sensor_names.h"
#include "journal/shown_text.h"
#include "serial/device_path.h"
#include "serial/port_discovery.h"

namespace {

constexpr std::string_view kFooter =
    "Exit codes:\n"
    "  0  success\n"
    "  1  the transmitter did not answer, answered short, or a verify or adjustment check failed;\n"
    "     or the output could not be written; a station's unit failed; the journal cannot be\n"
    "     read or written, or the central journal cannot be reached\n"
    "  2  usage error or refused entry (nothing is sent)\n"
    "  3  wrong access code (nothing is sent)\n"
    "  4  the port cannot be opened (busy, missing or no permission) or went away in use\n"
    "  130, 143  stopped by Ctrl+C or a termination request (a watch ends by Ctrl+C with 0)\n"
    "  141  the output's reader went away\n"
    "\n"
    "adjust takes the access code from TRANSMITTER_ACCESS_CODE, else asks for it on the terminal.";

// A number a person types is decimal, whatever CLI11 would read into it: "010" is ten, not
// eight, and "0x10" is refused. The value goes on without leading zeros.
std::string DecimalOnly(std::string& text) {
    const std::size_t sign = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
    const std::size_t digits = text.find_first_not_of("0123456789", sign);
    if (text.size() == sign || digits != std::string::npos) {
        return "\"" + text + "\" is not a decimal whole number";
    }
    const std::size_t first = std::min(text.find_first_not_of('0', sign), text.size() - 1);
    text = (text[0] == '-' ? "-" : "") + text.substr(first);
    return {};
}

int Dispatch(CliStreams& io, const Request& request, const CLI::App& command,
             Clock::time_point start) {
    const std::string name = command.get_name();
    if (name == "ports") return RunPorts(io, request.json);

    Session session{io, name, request.json, {}, {}, {}};
    if (name == "station" || name == "journal") {
        if (request.trace) session.link.trace = TraceTo(io.err, start);
        session.link.stop = &StopSignal();
        return name == "station" ? RunStation(session, request, command)
                                 : RunJournal(session, request);
    }
    if (name == "certificate") return RunCertificate(session, request);
    if (name == "label") return RunLabel(session, request);
    if (request.port_given) {
        const std::optional<std::u16string> port = NamedPort(io, request.port);
        if (!port) return kExitUsage;
        session.link.port = *port;
    } else {
        const std::vector<std::u16string> ports =
            ListSerialPorts().value_or(std::vector<std::u16string>{});
        if (ports.empty()) return FailGenerally(io, kExitPort, "no serial port found");
        session.link.port = ports.back();
    }
    session.port_name = ShownPortName(session.link.port);
    if (request.trace) session.link.trace = TraceTo(io.err, start);
    session.link.stop = &StopSignal();

    if (name == "version") return RunVersion(session);
    if (name == "read") return RunRead(session);
    if (name == "write") return RunWrite(session, request, command);
    if (name == "cold-junction") return RunColdJunction(session, request);
    if (name == "adjust") return RunAdjust(session, request);
    return RunUnlock(session);
}

// What a unit leaves with: its certificate and its label, from the journal, and the station's
// options that make them as units end.
void AddPaperOptions(CLI::App& app, CLI::App& station, Request& request) {
    CLI::App* certificate = app.add_subcommand(
        "certificate",
        "Write a unit's commissioning record as a PDF (one page), or with --batch the batch's "
        "report");
    CLI::App* label = app.add_subcommand(
        "label", "A passed unit's label in ZPL, on standard output or sent to --printer");
    for (CLI::App* paper : {certificate, label}) {
        paper->add_option("UNIT_OR_ID", request.unit_or_id,
                          "The unit's number (BENCH1-0042) or its record's id")
            ->type_name("");
        paper
            ->add_option("--journal", request.journal,
                         "The journal file (default: journal.sqlite3 in the user's data folder)")
            ->type_name("FILE");
#ifdef CONFIGURATOR_WITH_CENTRAL
        paper->add_option("--central", request.central, "Take the unit from the central journal")
            ->type_name("URL");
#endif
    }
    CLI::Option* batch =
        certificate->add_option("--batch", request.batch, "The report of batch NAME instead")
            ->type_name("NAME");
    certificate->get_option("UNIT_OR_ID")->excludes(batch);
    certificate->add_option("-o,--output", request.output_file, "The PDF to write")
        ->type_name("FILE.pdf")
        ->required();
    label->get_option("UNIT_OR_ID")->required();
    label
        ->add_option("--printer", request.printer,
                     "Send it over raw TCP to the label printer at HOST[:PORT] (port 9100)")
        ->type_name("HOST[:PORT]");
    station
        .add_option("--certificates", request.certificates,
                    "Write every unit's certificate, as its verdict is committed, to "
                    "DIR/<unit>.pdf")
        ->type_name("DIR");
    station
        .add_option("--label-printer", request.printer,
                    "Print a label for every passed unit on the printer at HOST[:PORT]")
        ->type_name("HOST[:PORT]");
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
    const CLI::Validator decimal(DecimalOnly, "");
    CLI::Option* port =
        app.add_option(
               "--port", request.port,
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
    CLI::App* station = app.add_subcommand(
        "station",
        "Commission every unit that appears in the fixtures on --ports, each slot on its own, "
        "and keep each in the journal; Ctrl+C ends it");
    // The entry the station gives every unit is written as `write` writes one.
    for (CLI::App* entry : {write, station}) {
        entry->add_option("--sensor", request.sensor, "The sensor: " + SensorNameList())
            ->type_name("NAME");
        entry->add_option("--upper", request.upper, "The upper limit in degrees")
            ->type_name("N")
            ->transform(decimal);
        entry->add_option("--lower", request.lower, "The lower limit in degrees, -50 for minus 50")
            ->type_name("N")
            ->transform(decimal);
        entry->add_option("--output", request.output, "The output current in mA")
            ->type_name("4-20|0-20");
        entry->add_option("--fault", request.fault, "The output's level on a sensor fault")
            ->type_name("high|low");
        entry->add_option("--compensation", request.compensation, "Cold-junction compensation")
            ->type_name("on|off");
        entry
            ->add_option("--from", request.from,
                         "The configuration as `read --json` prints it; - reads standard input. "
                         "Options given override its fields")
            ->type_name("FILE");
    }
    station
        ->add_option("--ports", request.slots,
                     "The slots, one port each (A,B,...): the only ports written to; on Linux "
                     "/dev/serial/by-path/... names keep a slot across a re-plug")
        ->type_name("PORTS")
        // Split by the station, which sees an empty name; CLI11 would drop it silently.
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->required();
    station
        ->add_option("--adjust-to", request.adjust_to,
                     "Adjust every unit's cold junction to DEGREES, as `adjust` does")
        ->type_name("DEGREES");
    station
        ->add_option("--http", request.http,
                     "Serve the live operator page and /metrics on [ADDRESS:]PORT (a bare port: "
                     "127.0.0.1; 0.0.0.0:8080 serves the network)")
        ->type_name("[ADDRESS:]PORT");
    station->add_option("--count", request.units, "Stop once N units have ended")
        ->type_name("N")
        ->transform(decimal)
        ->check(CLI::Range(1, std::numeric_limits<int>::max()).description(""));
    CLI::App* journal = app.add_subcommand(
        "journal", "List the commissioned units, newest last, as a table, --json or --csv");
    journal->add_option("--batch", request.batch, "Only this batch")->type_name("NAME");
    journal->add_option("--since", request.since, "Only units started since DATE (2026-12-07)")
        ->type_name("DATE");
    journal->add_option("--verdict", request.verdict, "Only units with this verdict")
        ->type_name("pass|fail|interrupted")
        ->check(CLI::IsMember({"pass", "fail", "interrupted"}));
    CLI::Option* csv = journal->add_flag("--csv", request.csv,
                                         "RFC 4180 CSV with a header row, for a spreadsheet");
    CLI::Option* summary = journal->add_flag("--summary", request.summary,
                                             "The units, passed, failed and interrupted per batch");
    summary->excludes(csv);
    journal
        ->add_option("--import", request.import_file,
                     "Merge the units of another station's journal FILE into this journal "
                     "(or, with --central, the central one); a unit already there is only "
                     "completed, when it has no verdict and FILE's row has")
        ->type_name("FILE")
        ->excludes(csv)
        ->excludes(summary);
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
            ->transform(decimal)
            ->check(kAtLeastOne);
    cold_junction->add_option("--count", request.count, "Stop the watch after N readings")
        ->type_name("N")
        ->transform(decimal)
        ->check(kAtLeastOne)
        ->needs(watch);
    CLI::App* adjust = app.add_subcommand(
        "adjust", "Set the true cold-junction temperature and check the reading follows it");
    adjust->add_option("TEMPERATURE", request.temperature, "Degrees with a point: 25, 25.0, -5.2")
        ->type_name("")
        ->required();
    // Every unit written, adjusted or commissioned gets its row in the journal.
    for (CLI::App* keeper : {write, adjust, station}) {
        keeper
            ->add_option("--batch", request.batch,
                         "The journal's batch (default: the date and the profile's hash)")
            ->type_name("NAME");
        keeper
            ->add_option("--operator", request.operator_name,
                         "Who commissions, for the journal (default: the login name)")
            ->type_name("NAME");
    }
    for (CLI::App* keeper : {write, adjust}) {
        keeper->add_flag("--no-journal", request.no_journal, "Keep no journal row of this unit");
    }
    // Written by hand on every unit: letters and digits, few of them.
    const CLI::Validator unit_prefix(
        [](std::string& prefix) -> std::string {
            for (char& c : prefix) {
                if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
            }
            const bool fits = !prefix.empty() && prefix.size() <= 8 &&
                              prefix.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789") ==
                                  std::string::npos;
            return fits ? "" : "a unit prefix is 1 to 8 letters (A-Z) and digits";
        },
        "");
    for (CLI::App* keeper : {write, adjust, station}) {
        keeper
            ->add_option("--unit-prefix", request.unit_prefix,
                         "Number the units PREFIX-0001, ... (default: made from the host name, "
                         "then kept by the journal)")
            ->type_name("PREFIX")
            ->transform(unit_prefix);
    }
    journal
        ->add_flag("--set-aside", request.set_aside,
                   "Only the units the central journal refused, with its reason")
        ->excludes(csv);
    for (CLI::App* keeper : {write, adjust, station, journal}) {
        keeper
            ->add_option("--journal", request.journal,
                         "The journal file (default: journal.sqlite3 in the user's data folder)")
            ->type_name("FILE");
    }
#ifdef CONFIGURATOR_WITH_CENTRAL
    for (CLI::App* keeper : {write, adjust, station}) {
        keeper
            ->add_option("--central", request.central,
                         "Forward the journal's rows to the central journal at URL, a libpq "
                         "connection string (default: TRANSMITTER_CENTRAL)")
            ->type_name("URL");
    }
    journal
        ->add_option("--central", request.central,
                     "List (or --import into) the central journal at URL instead")
        ->type_name("URL");
#endif
    app.add_subcommand("unlock", "Send the unlock preamble alone");
    AddPaperOptions(app, *station, request);

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
    request.port_given = port->count() > 0;
    // Names the journal keeps and every later reader shows: a server refuses bytes that are no
    // UTF-8, and a terminal obeys the control characters.
    const std::string subcommand = app.get_subcommands().front()->get_name();
    for (const auto& [option, text] :
         {std::pair{"--operator", &request.operator_name}, std::pair{"--batch", &request.batch}}) {
        if (auto why = journal::TextRefusal(*text)) {
            return FailGenerally(
                io, kExitUsage,
                subcommand + ": " + option + " \"" + journal::Escaped(*text) + "\" " + *why);
        }
    }
    return Dispatch(io, request, *app.get_subcommands().front(), start);
}

}  // namespace

int RunCommandLine(const std::vector<std::string>& args, CliStreams& io) {
    const Clock::time_point start = Clock::now();
    int code = kExitDevice;
    try {
        code = Run(args, io, start);
    } catch (const std::exception& error) {
        code = FailGenerally(io, kExitDevice, error.what());
    }
    return JudgeOutput(io, code);
}
