#include <CLI/CLI.hpp>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "cli/central_link.h"
#include "cli/station_display.h"
#include "cli/stop_signal.h"
#include "cli/subcommands.h"
#include "cli/unit_record.h"
#include "journal/shown_text.h"
#include "report/printer_link.h"
#include "report/station_paperwork.h"
#include "serial/device_path.h"
#include "cli/transmitter_cli_version.h"
#include "web/operator_page.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace {

bool OutputIsTerminal() {
#ifdef _WIN32
    DWORD mode = 0;
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (GetConsoleMode(out, &mode) == 0) return false;
    // The cursor moves and colours of the status lines.
    return SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
#else
    return ::isatty(STDOUT_FILENO) != 0;
#endif
}

std::size_t TerminalColumns() {
#ifdef _WIN32
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info) == 0) return 0;
    return static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1);
#else
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
#endif
}

// The slots, each a port as --port takes one, none twice: two names of one device would
// configure one unit twice. The error's exit code instead.
std::optional<int> CheckedSlots(const Session& session, const Request& request,
                                std::vector<std::string>& slots) {
    if (request.slots.empty()) return session.Fail(kExitUsage, "--ports names no port");
    std::vector<std::string> named;
    for (const std::string& list : request.slots) {
        for (std::size_t from = 0;;) {
            const std::size_t comma = list.find(',', from);
            named.push_back(list.substr(from, comma - from));
            if (comma == std::string::npos) break;
            from = comma + 1;
        }
    }
    std::set<std::string> devices;
    for (const std::string& slot : named) {
        // "$A,$B" with both unset: the list is not a list of ports, and the allow-list must not
        // silently shrink, nor take the next option for a port.
        if (slot.empty()) {
            return session.Fail(kExitUsage, "--ports holds an empty name (a comma too many?)");
        }
        if (slot.front() == '-') {
            return session.Fail(kExitUsage, "--ports takes " + journal::Escaped(slot) +
                                                " for a port, which is an option");
        }
        const std::optional<std::u16string> port = NamedPort(session.io, slot);
        if (!port) return kExitUsage;
        slots.push_back(Utf8FromUtf16(*port));
#ifdef _WIN32
        // Windows opens COM3, com3, COM3. and \\.\COM3 as one device.
        std::string device = WindowsDeviceName(*port);
#else
        std::error_code error;
        std::string device =
            std::filesystem::weakly_canonical(DevicePathFromPortName(*port), error).string();
        if (error) device = slots.back();
#endif
        if (!devices.insert(device).second) {
            return session.Fail(kExitUsage, "--ports names " + slot + " twice");
        }
    }
    return std::nullopt;
}

// --certificates and --label-printer, checked before any port is opened.
std::optional<int> CheckedPaperwork(const Session& session, const Request& request) {
    std::string host, port, error;
    if (!request.printer.empty() && !report::PrinterAddressOf(request.printer, host, port, error)) {
        return session.Fail(kExitUsage, "--label-printer: " + error);
    }
    if (!request.certificates.empty()) {
        // A folder that cannot be made shows at every unit's certificate, as a full disk would.
        std::error_code ignored;
        std::filesystem::create_directories(
            std::filesystem::path(
                std::u8string(request.certificates.begin(), request.certificates.end())),
            ignored);
    }
    return std::nullopt;
}

// Every unit's certificate and every passed unit's label as verdicts come, when asked for. A
// label that could not be printed is noted in the unit's row as well, where the journal keeps
// what went wrong with a unit.
std::unique_ptr<report::StationPaperwork> Paperwork(const Request& request,
                                                    journal::Journal& journal,
                                                    StationDisplay& display,
                                                    std::mutex& display_mutex,
                                                    StationForwarding& forwarding) {
    if (request.certificates.empty() && request.printer.empty()) return nullptr;
    return std::make_unique<report::StationPaperwork>(
        report::StationPaperwork::Settings{request.certificates, request.printer},
        [&](const report::StationPaperwork::Failure& failure) {
            if (failure.what == "label") {
                journal::UnitRow row = failure.row;
                row.error += (row.error.empty() ? "" : "; ") +
                             std::string("label not printed: ") + failure.detail;
                std::string ignored;
                if (journal.Finish(row, ignored)) forwarding.Nudge();
            }
            const std::lock_guard lock(display_mutex);
            display.ShowPaperFailed(failure.row, failure.what, failure.detail);
        });
}

}  // namespace

int RunStation(const Session& session, const Request& request, const CLI::App& command) {
    std::vector<std::string> slots;
    if (auto code = CheckedSlots(session, request, slots)) return *code;
    station::Settings settings;
    if (auto code = CheckedEntryOf(session, request, command, settings.entry)) return *code;
    settings.profile = EntryJson(settings.entry).dump();

    if (!request.adjust_to.empty()) {
        settings.adjust_to_tenths = WantedTenths(request.adjust_to);
        if (!settings.adjust_to_tenths) {
            return session.Fail(kExitUsage, "--adjust-to \"" + request.adjust_to +
                                                "\" is not a temperature: write degrees with a "
                                                "point, like 25, 25.0 or -5.2");
        }
        // Asked once, before any unit.
        if (auto code = AccessRefused(session)) return *code;
    }

    std::string central;
    if (auto code = CentralUrl(session, request, true, central)) return *code;
    if (auto code = CheckedPaperwork(session, request)) return *code;
    const std::unique_ptr<journal::Journal> journal = OpenJournal(session, request);
    if (!journal) return kExitUsage;

    settings.ports = slots;
    settings.batch = request.batch.empty() ? DefaultBatch(settings.profile) : request.batch;
    settings.operator_name =
        request.operator_name.empty() ? LoginName(session.io) : request.operator_name;
    // Listening before any slot is touched: a wrong address ends the station with nothing sent.
    std::unique_ptr<web::OperatorPage> page;
    // An --http left empty (an unset shell variable) is refused, not taken as no page.
    if (command.count("--http") > 0) {
        std::string error;
        page = web::OperatorPage::Open(request.http,
                                       {slots, settings.batch, settings.operator_name,
                                        settings.profile, !central.empty(), kTransmitterCliVersion},
                                       JournalPath(request), error);
        if (!page) return session.Fail(kExitUsage, error);
        session.io.err << kProgram << ": station: the operator page is at " << page->Url() << '\n'
                       << std::flush;
    }
    settings.station = HostName();
    settings.count = request.units;
    settings.stop = session.link.stop;
    // The slots trace from their own threads.
    std::mutex trace_mutex;
    if (session.link.trace) {
        settings.trace = [&session, &slots, &trace_mutex](std::size_t slot, Direction direction,
                                                          const std::vector<std::uint8_t>& bytes,
                                                          std::string_view meaning) {
            const std::lock_guard lock(trace_mutex);
            session.link.trace(direction, bytes, slots[slot] + ": " + std::string(meaning));
        };
    }

    const bool terminal = !session.json && OutputIsTerminal();
    const std::optional<std::string> no_colour = EnvironmentValue(session.io, "NO_COLOR");
    StationDisplay display(session, slots, settings.batch, terminal,
                           terminal && (!no_colour || no_colour->empty()),
                           terminal ? TerminalColumns() : 0);
    // The slots' events and the forwarder's come from different threads.
    std::mutex display_mutex;
    std::string ignored;
    StationForwarding forwarding(
        JournalPath(request), central,
        [&](const journal::ForwardStatus& status) {
            const std::lock_guard lock(display_mutex);
            display.ShowCentral(status);
            if (page) page->Post(status);
        },
        journal->UnitPrefixOf(settings.station, ignored), settings.station);
    const std::unique_ptr<report::StationPaperwork> paperwork =
        Paperwork(request, *journal, display, display_mutex, forwarding);
    const station::Summary summary =
        station::RunStation(settings, *journal, [&](const station::Event& event) {
            {
                const std::lock_guard lock(display_mutex);
                display.Show(event);
                // Nobody reads on (`| head`): the station ends as after Ctrl+C, its units in
                // progress recorded, and exits as the other subcommands do then.
                if (!OutputWentOut(session.io) && session.io.output_error == EPIPE) {
                    StopSignal() = kOutputGoneSignal;
                }
            }
            if (page) page->Post(event);
            using Kind = station::Event::Kind;
            if (paperwork && event.kind == Kind::kUnitEnded) paperwork->Add(event.row);
            if (event.kind == Kind::kUnitStarted || event.kind == Kind::kUnitEnded) {
                forwarding.Nudge();
            }
        });
    // The last certificates and labels, and their notes in the rows, before the last forwarding.
    if (paperwork) paperwork->Finish();
    // Its last pass sends the last units, and its last status is in the closing line.
    forwarding.Finish();
    display.Finish(summary);
    if (!summary.journal_error.empty()) return session.Fail(kExitDevice, summary.journal_error);
    return summary.failed > 0 ? kExitDevice : kExitOk;
}
