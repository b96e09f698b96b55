#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "cli/access_code_prompt.h"
#include "cli/subcommands.h"
#include "cli/unit_record.h"
#include "device/access_code.h"
#include "device/cold_junction_adjustment.h"
#include "device/text_conversion.h"
#include "serial/device_path.h"

namespace {

constexpr const char* kAccessCodeVariable = "TRANSMITTER_ACCESS_CODE";
// The window's temperature box is read this far; a longer text is not one it would take whole.
constexpr std::size_t kTemperatureTextLimit = 20;

double Degrees(std::int32_t tenths) {
    return tenths / 10.0;
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

}  // namespace

std::optional<std::string> AccessCode(CliStreams& io) {
    if (auto code = EnvironmentValue(io, kAccessCodeVariable)) return code;
    return io.ask_access_code ? io.ask_access_code(io.in, io.err) : PromptAccessCode(io.in, io.err);
}

int RunColdJunction(const Session& session, const Request& request) {
    const bool watching = request.watch_seconds > 0;
    // Ctrl+C is how a watch without --count ends: as --count would end it.
    const auto watch_ended = [&] {
        return watching && session.link.stop->load() == SIGINT
                   ? kExitOk
                   : Report(session, {ExchangeError::Kind::kStopped});
    };
    auto next = Clock::now();
    for (int done = 0; !watching || request.count == 0 || done < request.count; ++done) {
        if (!PauseUntil(session.link, next)) return watch_ended();
        next += std::chrono::seconds(request.watch_seconds);
        const Result<std::int16_t> reading = ReadColdJunctionTenths(session.link);
        if (const ExchangeError* error = ErrorOf(reading)) {
            return error->kind == ExchangeError::Kind::kStopped ? watch_ended()
                                                                : Report(session, *error);
        }
        const std::int16_t tenths = std::get<std::int16_t>(reading);
        bool printed = false;
        if (session.json) {
            Json object;
            if (watching) object["time"] = LocalTimeStamp();
            object["port"] = session.port_name;
            object["temperature"] = Degrees(tenths);
            printed = session.PrintJson(object);
        } else {
            printed = session.Print((watching ? LocalTimeStamp() + "  " : std::string()) +
                                    TenthsText(tenths));
        }
        // Nobody reads the watch any more; the run's end says why.
        if (!watching || !printed) break;
    }
    return kExitOk;
}

std::optional<std::int16_t> WantedTenths(const std::string& text) {
    const std::u16string typed = Utf16FromUtf8(text);
    if (typed.size() > kTemperatureTextLimit) return std::nullopt;
    return WantedColdJunctionTenths(typed);
}

std::optional<int> AccessRefused(const Session& session) {
    const std::optional<std::string> code = AccessCode(session.io);
    if (!code) {
        return session.Fail(kExitUsage, std::string("no access code: set ") + kAccessCodeVariable +
                                            " or run on a terminal");
    }
    // The window's own test of the code, without granting the window anything.
    if (ParseLeadingInteger(Utf16FromUtf8(*code)) != kAccessCode) {
        return session.Fail(kExitAccessCode, "wrong access code");
    }
    return std::nullopt;
}

namespace {

int Adjust(const Session& session, const Request& request, std::int16_t wanted,
           journal::UnitRow& row) {
    const Result<std::int16_t> adjusted = AdjustColdJunction(session.link, wanted);
    if (const ExchangeError* error = ErrorOf(adjusted)) return Report(session, *error);
    const std::int16_t reads = std::get<std::int16_t>(adjusted);
    row.cold_junction = Degrees(reads);

    // Judged as the window judges it: the typed value against the read-back, within a degree.
    const double typed =
        ParseLeadingDecimal(TextToByteNarrowing(Utf16FromUtf8(request.temperature)));
    const double device = Degrees(reads);
    const bool ok = typed >= device ? typed - device < 1.0 : device - typed < 1.0;
    if (session.json) {
        session.PrintJson(Json{{"port", session.port_name},
                               {"wanted", Degrees(wanted)},
                               {"temperature", device},
                               {"ok", ok}});
    } else {
        session.Print("adjusted to " + TenthsText(wanted) + ", reads " + TenthsText(reads));
    }
    if (ok) return kExitOk;
    const std::int32_t off = reads > wanted ? reads - wanted : wanted - reads;
    return session.Fail(kExitDevice, "the transmitter reads " + TenthsText(reads) + ", " +
                                         TenthsText(off) + " from " + TenthsText(wanted));
}

}  // namespace

int RunAdjust(const Session& session, const Request& request) {
    const std::optional<std::int16_t> wanted = WantedTenths(request.temperature);
    if (!wanted) {
        return session.Fail(kExitUsage, "\"" + request.temperature +
                                            "\" is not a temperature: write degrees with a "
                                            "point, like 25, 25.0 or -5.2");
    }
    if (auto code = AccessRefused(session)) return *code;
    UnitRecord record;
    if (auto code = BeginUnitRecord(session, request, Json{{"adjust_to", Degrees(*wanted)}}.dump(),
                                    record)) {
        return *code;
    }
    const Session unit = RecordingSession(session, record);
    return EndUnitRecord(unit, record, Adjust(unit, request, *wanted, record.row));
}
