#include "cli/station_display.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace {

constexpr const char* kGreen = "32";
constexpr const char* kRed = "31";
constexpr const char* kYellow = "33";

std::string Reason(const journal::UnitRow& row) {
    return row.error.empty() ? "" : ": " + row.error;
}

std::string CentralText(const journal::ForwardStatus& status) {
    const std::string waiting = std::to_string(status.waiting) + " waiting";
    if (status.reachable) return "central: " + waiting;
    const std::string since = status.down_since.empty() ? "" : " since " + status.down_since;
    return "central: unreachable" + since + " (" + waiting + "): " + status.reason;
}

}  // namespace

Json UnitJson(const journal::UnitRow& row) {
    const auto text = [](const std::string& value) -> Json {
        if (value.empty()) return nullptr;
        return value;
    };
    // A column that is no JSON (a row another program wrote) stays text: dumped as it is, a
    // discarded value would make the line no JSON at all.
    const auto object = [](const std::string& value) -> Json {
        if (value.empty()) return nullptr;
        Json parsed = Json::parse(value, nullptr, false);
        return parsed.is_discarded() ? Json(value) : parsed;
    };
    Json json{{"id", row.id},
              {"unit", row.unit},
              {"batch", row.batch},
              {"station", row.station},
              {"slot", row.slot},
              {"operator", row.operator_name},
              {"profile", object(row.profile)},
              {"profile_sha256", row.profile_sha256},
              {"started_at", row.started_at},
              {"finished_at", text(row.finished_at)},
              {"firmware", text(row.firmware)},
              {"as_found", object(row.as_found)},
              {"as_left", object(row.as_left)},
              {"cold_junction", nullptr},
              {"verdict", journal::ShownVerdict(row)},
              {"error", text(row.error)},
              {"tries", row.tries}};
    if (row.cold_junction) json["cold_junction"] = *row.cold_junction;
    return json;
}

StationDisplay::StationDisplay(const Session& session, std::vector<std::string> slots,
                               std::string batch, bool terminal, bool colour, std::size_t columns)
    : session_(session),
      slots_(std::move(slots)),
      batch_(std::move(batch)),
      terminal_(terminal && !session.json),
      colour_(colour),
      columns_(columns),
      lines_(slots_.size()) {}

void StationDisplay::Show(const station::Event& event) {
    using Kind = station::Event::Kind;
    if (event.kind == Kind::kUnitEnded) {
        const bool passed = event.row.verdict == "pass";
        if (passed) ++passed_;
        if (event.row.verdict == "fail") ++failed_;
        SlotLine& line = lines_[event.slot];
        line.last = event.row.unit + " " + journal::ShownVerdict(event.row) +
                    (passed ? "" : Reason(event.row));
        line.last_failed = event.row.verdict == "fail";
    }
    if (event.kind == Kind::kSlot) {
        std::string state = station::StateName(event.state);
        if (event.step != station::Step::kNone) state += ": " + station::StepName(event.step);
        if (!event.detail.empty()) state += " (" + event.detail + ")";
        lines_[event.slot].state = std::move(state);
    }
    if (terminal_) {
        if (event.kind == Kind::kJournalFailed) {
            session_.io.err << Paint(event.detail, kRed) << '\n' << std::flush;
            drawn_ = false;
        }
        Draw();
        if (event.kind == Kind::kUnitEnded && event.row.verdict == "fail") {
            session_.io.out << '\a' << std::flush;
        }
        return;
    }
    Json json;
    switch (event.kind) {
        case Kind::kSlot:
            json = Json{
                {"event", "slot"},
                {"slot", event.port},
                {"state", station::StateName(event.state)},
                {"step", event.step == station::Step::kNone ? Json(nullptr)
                                                            : Json(station::StepName(event.step))}};
            if (!event.detail.empty()) json["detail"] = event.detail;
            break;
        case Kind::kUnitStarted:
            json = Json{{"event", "unit started"},
                        {"slot", event.port},
                        {"unit", event.row.unit},
                        {"id", event.row.id}};
            break;
        case Kind::kUnitEnded:
            json = Json{
                {"event", "unit ended"}, {"slot", event.port}, {"record", UnitJson(event.row)}};
            break;
        case Kind::kJournalFailed:
            json =
                Json{{"event", "journal failed"}, {"slot", event.port}, {"detail", event.detail}};
            break;
    }
    session_.PrintJson(json);
}

void StationDisplay::ShowPaperFailed(const journal::UnitRow& row, const std::string& what,
                                     const std::string& detail) {
    if (!terminal_) {
        session_.PrintJson(Json{{"event", what + " failed"},
                                {"slot", row.slot},
                                {"unit", row.unit},
                                {"detail", detail}});
        return;
    }
    const auto slot = std::find(slots_.begin(), slots_.end(), row.slot);
    if (slot != slots_.end()) {
        SlotLine& line = lines_[static_cast<std::size_t>(slot - slots_.begin())];
        // Said after the unit's verdict while the slot still shows that unit.
        if (line.last.rfind(row.unit + " ", 0) == 0) line.last += "; no " + what + ": " + detail;
    }
    Draw();
}

void StationDisplay::ShowCentral(const journal::ForwardStatus& status) {
    central_ = status;
    if (terminal_) {
        Draw();
        return;
    }
    Json json{{"event", "central"}, {"waiting", status.waiting}, {"reachable", status.reachable}};
    if (!status.reachable) {
        json["since"] = status.down_since;
        json["reason"] = status.reason;
    }
    session_.PrintJson(json);
}

std::string StationDisplay::Paint(const std::string& text, const char* colour) const {
    return colour_ ? "\x1b[" + std::string(colour) + "m" + text + "\x1b[0m" : text;
}

void StationDisplay::Draw() {
    std::string screen;
    // Back to the header, then every line anew over the old one.
    if (drawn_) screen += "\x1b[" + std::to_string(slots_.size() + 1) + "F";
    drawn_ = true;
    const double hours =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count() / 3600;
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.0f", hours > 0 ? (passed_ + failed_) / hours : 0.0);
    const std::string passed = "passed " + std::to_string(passed_);
    const std::string failed = "failed " + std::to_string(failed_);
    std::string tail = std::string("   ") + rate + " units/h";
    if (central_) tail += "   " + CentralText(*central_);
    const std::string head = "batch " + batch_ + "   ";
    // A line wider than the terminal would wrap, and the redraw would then climb too few lines:
    // every line is cut to the width, the reasons last.
    const std::size_t limit = columns_ > 1 ? columns_ - 1 : std::string::npos;
    if ((head + passed + "   " + failed + tail).size() > limit) {
        screen += "\x1b[2K" + (head + passed + "   " + failed + tail).substr(0, limit) + "\n";
    } else {
        screen += "\x1b[2K" + head + Paint(passed, kGreen) + "   " +
                  (failed_ > 0 ? Paint(failed, kRed) : failed) + tail + "\n";
    }
    std::size_t width = 0;
    for (const std::string& slot : slots_) width = std::max(width, slot.size());
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        const SlotLine& line = lines_[i];
        std::size_t room = limit;
        const auto fit = [&room](std::string text) {
            text = text.substr(0, room);
            room -= std::min(room, text.size());
            return text;
        };
        std::string text = fit(slots_[i] + std::string(width - slots_[i].size() + 2, ' '));
        const std::string state = fit(line.state);
        const char* colour =
            state.rfind("busy", 0) == 0 || state.rfind("absent", 0) == 0 ? kYellow : nullptr;
        text += colour ? Paint(state, colour) : state;
        const std::string label = fit(line.last.empty() ? "" : "   last ");
        const std::string last = fit(line.last);
        if (!last.empty()) text += label + Paint(last, line.last_failed ? kRed : kGreen);
        screen += "\x1b[2K" + text + "\n";
    }
    session_.io.out << screen << std::flush;
}

void StationDisplay::Finish(const station::Summary& summary) {
    if (session_.json || !terminal_) {
        Json json{{"event", "summary"},
                  {"batch", batch_},
                  {"passed", summary.passed},
                  {"failed", summary.failed},
                  {"interrupted", summary.interrupted}};
        if (central_) json["central_waiting"] = central_->waiting;
        session_.PrintJson(json);
        return;
    }
    session_.Print("batch " + batch_ + ": " + std::to_string(summary.passed) + " passed, " +
                   std::to_string(summary.failed) + " failed, " +
                   std::to_string(summary.interrupted) + " interrupted" +
                   (central_ ? "; " + CentralText(*central_) : ""));
}
