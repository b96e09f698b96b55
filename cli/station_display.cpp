#include "cli/station_display.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "journal/shown_text.h"

namespace {

constexpr const char* kGreen = "32";
constexpr const char* kRed = "31";
constexpr const char* kYellow = "33";

std::string Reason(const journal::UnitRow& row) {
    return row.error.empty() ? "" : ": " + row.error;
}

std::string CentralText(const journal::ForwardStatus& status) {
    const std::string waiting = std::to_string(status.waiting) + " waiting";
    std::string more;
    if (status.set_aside > 0) {
        more += ", " + std::to_string(status.set_aside) + " set aside: " + status.refusal;
    }
    if (!status.warning.empty()) more += "; " + status.warning;
    if (status.reachable) {
        const char* link = status.verified    ? "encrypted, verified"
                           : status.encrypted ? "encrypted, not verified"
                                              : "not encrypted";
        return "central (" + std::string(link) + "): " + waiting + more;
    }
    const std::string since = status.down_since.empty() ? "" : " since " + status.down_since;
    return "central: unreachable" + since + " (" + waiting + "): " + status.reason + more;
}

}  // namespace

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
        if (passed || event.row.verdict == "fail") rate_.Ended();
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
    session_.PrintJson(station::EventJson(event, rate_.PerHour()));
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
    session_.PrintJson(station::CentralJson(status, true));
}

std::string StationDisplay::Paint(const std::string& text, const char* colour) const {
    return colour_ ? "\x1b[" + std::string(colour) + "m" + text + "\x1b[0m" : text;
}

void StationDisplay::Draw() {
    std::string screen;
    // Back to the header, then every line anew over the old one.
    if (drawn_) screen += "\x1b[" + std::to_string(slots_.size() + 1) + "F";
    drawn_ = true;
    const std::optional<double> per_hour = rate_.PerHour();
    char rate[32] = "-";
    if (per_hour) std::snprintf(rate, sizeof rate, "%.0f", *per_hour);
    const std::string passed = "passed " + std::to_string(passed_);
    const std::string failed = "failed " + std::to_string(failed_);
    std::string tail = std::string("   ") + rate + " units/h";
    if (central_) tail += "   " + CentralText(*central_);
    // Text from outside (a batch, a port's name, a server's reason) is shown, never obeyed.
    tail = journal::Escaped(tail);
    const std::string head = "batch " + journal::Escaped(batch_) + "   ";
    // A line wider than the terminal would wrap, and the redraw would then climb too few lines:
    // every line is cut to the width, the reasons last, by columns and never inside a character.
    const std::size_t limit = columns_ > 1 ? columns_ - 1 : std::string::npos;
    const std::string plain = head + passed + "   " + failed + tail;
    if (journal::DisplayWidth(plain) > limit) {
        screen += "\x1b[2K" + journal::CutToWidth(plain, limit) + "\n";
    } else {
        screen += "\x1b[2K" + head + Paint(passed, kGreen) + "   " +
                  (failed_ > 0 ? Paint(failed, kRed) : failed) + tail + "\n";
    }
    std::vector<std::string> slots;
    std::size_t width = 0;
    for (const std::string& slot : slots_) {
        slots.push_back(journal::Escaped(slot));
        width = std::max(width, journal::DisplayWidth(slots.back()));
    }
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        const SlotLine& line = lines_[i];
        std::size_t room = limit;
        const auto fit = [&room](const std::string& text) {
            std::string cut = journal::CutToWidth(journal::Escaped(text), room);
            room -= std::min(room, journal::DisplayWidth(cut));
            return cut;
        };
        std::string text = fit(journal::PaddedToWidth(slots[i], width + 2));
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
