#include "station/station.h"

#include <mutex>
#include <thread>
#include <utility>

#include "serial/device_path.h"

namespace station {
namespace {

using Clock = std::chrono::steady_clock;

// A transport fault: the same exchange may well go through when tried again.
bool Transient(const ExchangeError& error) {
    return error.kind == ExchangeError::Kind::kNoReply ||
           error.kind == ExchangeError::Kind::kShortReply ||
           error.kind == ExchangeError::Kind::kSend;
}

// A port that failed under an exchange, or vanished between two: the adapter was pulled.
bool PortGone(const ExchangeError& error) {
    return error.kind == ExchangeError::Kind::kPortLost ||
           (error.kind == ExchangeError::Kind::kOpen &&
            error.open.kind == OpenFailure::Kind::kMissing);
}

std::string ErrorText(const ExchangeError& error) {
    switch (error.kind) {
        case ExchangeError::Kind::kOpen:
            return error.open.kind == OpenFailure::Kind::kBusy
                       ? "busy (held by another program: " + error.open.system_message + ")"
                       : "cannot open the port: " + error.open.system_message;
        case ExchangeError::Kind::kSettings:
            return "not a serial port";
        case ExchangeError::Kind::kSend:
            return "a frame did not go out in time";
        case ExchangeError::Kind::kNoReply:
            return "no reply";
        case ExchangeError::Kind::kShortReply:
            return "short reply, " + std::to_string(error.received) + " of " +
                   std::to_string(error.expected) + " bytes";
        case ExchangeError::Kind::kUnknownReplyLength:
            return "its configuration reply is unknown to this program";
        case ExchangeError::Kind::kPortLost:
            return "port went away";
        case ExchangeError::Kind::kStopped:
            break;
    }
    return "stopped";
}

// What the slots share: the journal, the count of units, and the one reporter.
class Station {
  public:
    Station(const Settings& settings, journal::Journal& journal,
            const std::function<void(const Event&)>& report)
        : settings_(settings), journal_(journal), report_(report) {}

    const Settings& settings() const { return settings_; }
    journal::Journal& journal() { return journal_; }

    void Report(Event event) {
        const std::lock_guard lock(report_mutex_);
        if (event.kind == Event::Kind::kUnitEnded) {
            const std::string& verdict = event.row.verdict;
            ++(verdict == "pass"   ? summary_.passed
               : verdict == "fail" ? summary_.failed
                                   : summary_.interrupted);
        }
        if (event.kind == Event::Kind::kJournalFailed && summary_.journal_error.empty()) {
            summary_.journal_error = event.detail;
        }
        report_(event);
    }

    // Whether a slot may take a unit in: the count leaves room and the journal still writes.
    bool ReserveUnit() {
        const std::lock_guard lock(report_mutex_);
        if (!summary_.journal_error.empty()) return false;
        if (settings_.count > 0 && started_ >= settings_.count) return false;
        ++started_;
        return true;
    }
    bool TakesUnits() {
        const std::lock_guard lock(report_mutex_);
        return summary_.journal_error.empty() &&
               (settings_.count == 0 || started_ < settings_.count);
    }

    Summary TakeSummary() {
        const std::lock_guard lock(report_mutex_);
        return summary_;
    }

  private:
    const Settings& settings_;
    journal::Journal& journal_;
    const std::function<void(const Event&)>& report_;
    std::mutex report_mutex_;  // also guards the counts below
    Summary summary_;
    int started_ = 0;
};

class Slot {
  public:
    Slot(Station& station, std::size_t index) : station_(station), index_(index) {
        const Settings& settings = station.settings();
        link_.port = Utf16FromUtf8(settings.ports[index]);
        link_.stop = settings.stop;
        if (settings.trace) {
            link_.trace = [this](Direction direction, const std::vector<std::uint8_t>& bytes,
                                 std::string_view meaning) {
                station_.settings().trace(index_, direction, bytes, meaning);
            };
        }
    }

    void Run();

  private:
    void Show(SlotState state, Step step = Step::kNone, std::string detail = {});
    bool Stopped() const { return link_.stop != nullptr && link_.stop->load() != 0; }
    // Commissions the unit that answered the probe with `firmware`; false when its port went
    // away under it (the slot then takes whatever answers next as a new unit).
    bool RunUnit(const FirmwareVersion& firmware);

    // The exchange, tried again twice on a transport fault; each failed try noted in the row.
    template <typename T, typename Exchange>
    Result<T> Tried(Step step, journal::UnitRow& row, Exchange exchange) {
        Show(SlotState::kRunning, step);
        for (int attempt = 1;; ++attempt) {
            row.tries = std::max(row.tries, attempt);
            Result<T> result = exchange();
            const ExchangeError* error = std::get_if<ExchangeError>(&result);
            if (error == nullptr || !Transient(*error) || attempt == 3) return result;
            Note(row, StepName(step) + ": " + ErrorText(*error) + " (try " +
                          std::to_string(attempt) + " of 3)");
        }
    }
    static void Note(journal::UnitRow& row, const std::string& text) {
        row.error += (row.error.empty() ? "" : "; ") + text;
    }
    // Ends the unit: its verdict, its row completed, the event.
    void End(journal::UnitRow& row, std::string verdict, const std::string& why = {});
    // An event of this slot.
    Event Told(Event::Kind kind, SlotState state, Step step = Step::kNone) const;
    void JournalFailed(const std::string& error);

    Station& station_;
    std::size_t index_;
    Link link_;
    // The port stays this slot's between its exchanges: another program (a second station, a
    // `write`) would otherwise get in between two and commission the unit twice.
    PortClaim claim_;
    SlotState shown_state_ = SlotState::kStopped;
    Step shown_step_ = Step::kNone;
    std::string shown_detail_;
};

void Slot::Show(SlotState state, Step step, std::string detail) {
    if (state == shown_state_ && step == shown_step_ && detail == shown_detail_) return;
    shown_state_ = state;
    shown_step_ = step;
    shown_detail_ = detail;
    Event event = Told(Event::Kind::kSlot, state, step);
    event.detail = std::move(detail);
    station_.Report(std::move(event));
}

void Slot::Run() {
    // After a verdict the unit stays in its fixture until two probes in a row go unanswered;
    // until then an answer is the same unit, never the next one.
    bool awaiting_removal = false;
    int unanswered = 0;
    auto next_probe = Clock::now();
    Show(SlotState::kProbing);
    while (!Stopped() && station_.TakesUnits()) {
        if (!PauseUntil(link_, next_probe)) break;
        next_probe = Clock::now() + station_.settings().probe_every;
        if (const auto refused = claim_.Take(link_.port);
            refused && refused->kind == OpenFailure::Kind::kBusy) {
            Show(SlotState::kBusy, Step::kNone,
                 "held by another program: " + refused->system_message);
            continue;
        }
        const Result<FirmwareVersion> probe = ReadFirmwareVersion(link_);
        if (const ExchangeError* error = std::get_if<ExchangeError>(&probe)) {
            if (error->kind == ExchangeError::Kind::kStopped) break;
            if (error->kind == ExchangeError::Kind::kOpen &&
                error->open.kind == OpenFailure::Kind::kBusy) {
                Show(SlotState::kBusy, Step::kNone,
                     "held by another program: " + error->open.system_message);
            } else if (!Transient(*error)) {
                Show(SlotState::kAbsent, Step::kNone, ErrorText(*error));
            } else if (++unanswered >= 2 || !awaiting_removal) {
                awaiting_removal = false;
                Show(SlotState::kProbing);
            }
            continue;
        }
        unanswered = 0;
        if (awaiting_removal) {
            Show(SlotState::kDone);
            continue;
        }
        if (!station_.ReserveUnit()) break;
        awaiting_removal = RunUnit(std::get<FirmwareVersion>(probe));
        Show(awaiting_removal ? SlotState::kDone : SlotState::kProbing);
    }
    claim_.Release();
    Show(SlotState::kStopped);
}

bool Slot::RunUnit(const FirmwareVersion& firmware) {
    const Settings& settings = station_.settings();
    journal::UnitRow row;
    row.batch = settings.batch;
    row.station = settings.station;
    row.slot = settings.ports[index_];
    row.operator_name = settings.operator_name;
    row.profile = settings.profile;
    row.firmware = FirmwareText(firmware);
    row.tries = 1;
    std::string error;
    if (!station_.journal().Begin(row, error)) {
        JournalFailed(error);
        return true;
    }
    Event started = Told(Event::Kind::kUnitStarted, SlotState::kRunning);
    started.row = row;
    station_.Report(std::move(started));

    // Every failure below ends the unit the same way; only a pulled adapter lets the slot take
    // the next answer as a new unit.
    const auto failed = [&](Step step, const ExchangeError& failure) {
        if (failure.kind == ExchangeError::Kind::kStopped) {
            End(row, "", "stopped during " + StepName(step));
        } else {
            // Between two exchanges a pulled adapter shows as a port that cannot be opened.
            End(row, "fail",
                StepName(step) + ": " +
                    (PortGone(failure) ? "port went away" : ErrorText(failure)));
        }
        return !PortGone(failure);
    };

    const Result<DeviceConfiguration> found = Tried<DeviceConfiguration>(
        Step::kReadAsFound, row, [&] { return ReadConfiguration(link_, firmware); });
    if (const ExchangeError* failure = std::get_if<ExchangeError>(&found)) {
        if (failure->kind == ExchangeError::Kind::kUnknownReplyLength) {
            End(row, "fail",
                "firmware " + row.firmware +
                    ": its configuration reply is unknown to this "
                    "program; not written");
            return true;
        }
        return failed(Step::kReadAsFound, *failure);
    }
    row.as_found = ConfigurationJson(row.slot, firmware, std::get<DeviceConfiguration>(found));

    const CheckedEntry& entry = settings.entry;
    const ConfigFrameSlots frame = BuildConfigurationFrame(
        entry.sensor_code, entry.upper, entry.lower < 0 ? -entry.lower : entry.lower,
        entry.lower < 0, entry.output, entry.fault, entry.compensation);
    const Result<std::monostate> written =
        Tried<std::monostate>(Step::kWrite, row, [&] { return WriteConfiguration(link_, frame); });
    if (const ExchangeError* failure = std::get_if<ExchangeError>(&written)) {
        return failed(Step::kWrite, *failure);
    }

    const Result<DeviceConfiguration> left = Tried<DeviceConfiguration>(
        Step::kReadBack, row, [&] { return ReadConfiguration(link_, firmware); });
    if (const ExchangeError* failure = std::get_if<ExchangeError>(&left)) {
        return failed(Step::kReadBack, *failure);
    }
    const DeviceConfiguration& reads = std::get<DeviceConfiguration>(left);
    row.as_left = ConfigurationJson(row.slot, firmware, reads);
    if (const std::string differences = ReadBackDifferences(entry, reads); !differences.empty()) {
        End(row, "fail", "verify failed: " + differences);
        return true;
    }
    if (!reads.output || !reads.fault) Note(row, "not compared: output, fault");

    Result<std::int16_t> cold_junction =
        settings.adjust_to_tenths
            ? Tried<std::int16_t>(
                  Step::kAdjust, row,
                  [&] { return AdjustColdJunction(link_, *settings.adjust_to_tenths); })
            : Tried<std::int16_t>(Step::kColdJunction, row,
                                  [&] { return ReadColdJunctionTenths(link_); });
    if (const ExchangeError* failure = std::get_if<ExchangeError>(&cold_junction)) {
        return failed(settings.adjust_to_tenths ? Step::kAdjust : Step::kColdJunction, *failure);
    }
    const std::int16_t tenths = std::get<std::int16_t>(cold_junction);
    row.cold_junction = tenths / 10.0;
    if (settings.adjust_to_tenths) {
        const int off = tenths - *settings.adjust_to_tenths;
        // Within a degree, as the window judges an adjustment.
        if (off <= -10 || off >= 10) {
            End(row, "fail",
                "cold junction reads " + TenthsText(tenths) + " after adjusting to " +
                    TenthsText(*settings.adjust_to_tenths));
            return true;
        }
    }
    End(row, "pass");
    return true;
}

void Slot::End(journal::UnitRow& row, std::string verdict, const std::string& why) {
    row.verdict = std::move(verdict);
    if (!why.empty()) Note(row, why);
    std::string error;
    if (!station_.journal().Finish(row, error)) {
        // Its row stays without a verdict: the unit must not be shown passed.
        row.verdict.clear();
        Note(row, "the journal cannot be written: " + error);
        JournalFailed(error);
    }
    Event ended = Told(Event::Kind::kUnitEnded, SlotState::kDone);
    ended.row = row;
    station_.Report(std::move(ended));
}

Event Slot::Told(Event::Kind kind, SlotState state, Step step) const {
    Event event;
    event.kind = kind;
    event.slot = index_;
    event.port = station_.settings().ports[index_];
    event.state = state;
    event.step = step;
    return event;
}

void Slot::JournalFailed(const std::string& error) {
    Event event = Told(Event::Kind::kJournalFailed, SlotState::kRunning);
    event.detail = "the journal cannot be written: " + error;
    station_.Report(std::move(event));
}

}  // namespace

Summary RunStation(const Settings& settings, journal::Journal& journal,
                   const std::function<void(const Event&)>& report) {
    Station station(settings, journal, report);
    std::vector<std::thread> threads;
    threads.reserve(settings.ports.size());
    for (std::size_t i = 0; i < settings.ports.size(); ++i) {
        threads.emplace_back([&station, i] { Slot(station, i).Run(); });
    }
    for (std::thread& thread : threads) thread.join();
    return station.TakeSummary();
}

std::string StepName(Step step) {
    switch (step) {
        case Step::kReadAsFound:
            return "read as found";
        case Step::kWrite:
            return "write";
        case Step::kReadBack:
            return "read back";
        case Step::kColdJunction:
            return "cold junction";
        case Step::kAdjust:
            return "adjust";
        case Step::kNone:
            break;
    }
    return "";
}

std::string StateName(SlotState state) {
    switch (state) {
        case SlotState::kProbing:
            return "probing";
        case SlotState::kRunning:
            return "running";
        case SlotState::kDone:
            return "done";
        case SlotState::kBusy:
            return "busy";
        case SlotState::kAbsent:
            return "absent";
        case SlotState::kStopped:
            break;
    }
    return "stopped";
}

}  // namespace station
