#include "cli/station_display.h"

#include <cstdio>
#include <utility>

namespace {

constexpr const char* kGreen = "32";
constexpr const char* kRed = "31";
constexpr const char* kYellow = "33";

std::string Reason(const journal::UnitRow& row) {
    return row.error.empty() ? "" : ": " + row.error;
}

}  // namespace

Json UnitJson(const journal::UnitRow& row) {
    const auto text = [](const std::string& value) -> Json {
        if (value.empty()) return nullptr;
        return value;
    };
    const auto object = [](const std::string& value) -> Json {
        if (value.empty()) return nullptr;
        return Json::parse(value, nullptr, false);
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
                               std::string batch, bool terminal, bool colour)
    : session_(session),
      slots_(std::move(slots)),
      batch_(std::move(batch)),
      terminal_(terminal && !session.json),
      colour_(colour),
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
    screen += "\x1b[2Kbatch " + batch_ + "   " +
              Paint("passed " + std::to_string(passed_), kGreen) + "   " +
              (failed_ > 0 ? Paint("failed " + std::to_string(failed_), kRed) : "failed 0") +
              "   " + rate + " units/h\n";
    std::size_t width = 0;
    for (const std::string& slot : slots_) width = std::max(width, slot.size());
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        const SlotLine& line = lines_[i];
        std::string text = slots_[i] + std::string(width - slots_[i].size() + 2, ' ');
        const char* colour = line.state.rfind("busy", 0) == 0 || line.state.rfind("absent", 0) == 0
                                 ? kYellow
                                 : nullptr;
        text += colour ? Paint(line.state, colour) : line.state;
        if (!line.last.empty()) {
            text += "   last " + Paint(line.last, line.last_failed ? kRed : kGreen);
        }
        screen += "\x1b[2K" + text + "\n";
    }
    session_.io.out << screen << std::flush;
}

void StationDisplay::Finish(const station::Summary& summary) {
    if (session_.json || !terminal_) {
        session_.PrintJson(Json{{"event", "summary"},
                                {"batch", batch_},
                                {"passed", summary.passed},
                                {"failed", summary.failed},
                                {"interrupted", summary.interrupted}});
        return;
    }
    session_.Print("batch " + batch_ + ": " + std::to_string(summary.passed) + " passed, " +
                   std::to_string(summary.failed) + " failed, " +
                   std::to_string(summary.interrupted) + " interrupted");
}
