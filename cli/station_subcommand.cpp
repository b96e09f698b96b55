#include <CLI/CLI.hpp>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "cli/station_display.h"
#include "cli/subcommands.h"
#include "device/access_code.h"
#include "device/cold_junction_adjustment.h"
#include "device/text_conversion.h"
#include "serial/device_path.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <pwd.h>
#include <unistd.h>
#endif

namespace {

// The window's temperature box is read this far; a longer text is not one it would take whole.
constexpr std::size_t kTemperatureTextLimit = 20;

std::string HostName() {
#ifdef _WIN32
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (GetComputerNameW(name, &size) == 0) return "station";
    return Utf8FromUtf16(std::u16string(reinterpret_cast<const char16_t*>(name), size));
#else
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "station";
    return name;
#endif
}

std::string LoginName(CliStreams& io) {
#ifdef _WIN32
    if (auto name = EnvironmentValue(io, "USERNAME")) return *name;
#else
    for (const char* variable : {"LOGNAME", "USER"}) {
        if (auto name = EnvironmentValue(io, variable); name && !name->empty()) return *name;
    }
    if (const passwd* user = ::getpwuid(::geteuid())) return user->pw_name;
#endif
    return "unknown";
}

// "2026-12-08-1a2b3c4d": the day and the profile, so that a day's units of one profile are one
// batch unless the operator names it.
std::string DefaultBatch(const std::string& profile) {
    return journal::UtcNow().substr(0, 10) + "-" + journal::Sha256Hex(profile).substr(0, 8);
}

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

// The slots, each a port as --port takes one, none twice: two names of one device would
// configure one unit twice. The error's exit code instead.
std::optional<int> CheckedSlots(const Session& session, const Request& request,
                                std::vector<std::string>& slots) {
    if (request.slots.empty()) return session.Fail(kExitUsage, "--ports names no port");
    std::set<std::string> devices;
    for (const std::string& slot : request.slots) {
        const std::optional<std::u16string> port = NamedPort(session.io, slot);
        if (!port) return kExitUsage;
        slots.push_back(Utf8FromUtf16(*port));
        std::error_code error;
        const std::string device =
            std::filesystem::weakly_canonical(DevicePathFromPortName(*port), error).string();
        if (!devices.insert(error ? slots.back() : device).second) {
            return session.Fail(kExitUsage, "--ports names " + slot + " twice");
        }
    }
    return std::nullopt;
}

}  // namespace

int RunStation(const Session& session, const Request& request, const CLI::App& command) {
    std::vector<std::string> slots;
    if (auto code = CheckedSlots(session, request, slots)) return *code;
    station::Settings settings;
    if (auto code = CheckedEntryOf(session, request, command, settings.entry)) return *code;
    settings.profile = EntryJson(settings.entry).dump();

    if (!request.adjust_to.empty()) {
        const std::u16string text = Utf16FromUtf8(request.adjust_to);
        settings.adjust_to_tenths =
            text.size() <= kTemperatureTextLimit ? WantedColdJunctionTenths(text) : std::nullopt;
        if (!settings.adjust_to_tenths) {
            return session.Fail(kExitUsage, "--adjust-to \"" + request.adjust_to +
                                                "\" is not a temperature: write degrees with a "
                                                "point, like 25, 25.0 or -5.2");
        }
        const std::optional<std::string> code = AccessCode(session.io);
        if (!code) {
            return session.Fail(kExitUsage,
                                "no access code: set TRANSMITTER_ACCESS_CODE or run on a terminal");
        }
        if (ParseLeadingInteger(Utf16FromUtf8(*code)) != kAccessCode) {
            return session.Fail(kExitAccessCode, "wrong access code");
        }
    }

    const std::string path =
        request.journal.empty() ? journal::DefaultJournalPath() : request.journal;
    std::string error;
    const std::unique_ptr<journal::Journal> journal = journal::Journal::Open(path, error);
    if (!journal) return session.Fail(kExitUsage, "cannot use the journal " + path + ": " + error);

    settings.ports = slots;
    settings.batch = request.batch.empty() ? DefaultBatch(settings.profile) : request.batch;
    settings.operator_name =
        request.operator_name.empty() ? LoginName(session.io) : request.operator_name;
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
    StationDisplay display(session, slots, settings.batch, terminal,
                           terminal && !EnvironmentValue(session.io, "NO_COLOR"));
    const station::Summary summary = station::RunStation(
        settings, *journal, [&display](const station::Event& event) { display.Show(event); });
    display.Finish(summary);
    if (!summary.journal_error.empty()) return session.Fail(kExitDevice, summary.journal_error);
    return summary.failed > 0 ? kExitDevice : kExitOk;
}
