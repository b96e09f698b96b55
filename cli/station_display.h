#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "cli/session.h"
#include "journal/forwarder.h"
#include "station/event_json.h"
#include "station/station.h"
#include "station/unit_rate.h"

// What the operator sees of the station. On a terminal: a header line (batch, passed, failed,
// units per hour over the last quarter hour, and what waits for the central journal) and one line per slot, kept in place and
// redrawn as events come, in colour where the terminal has it and NO_COLOR is not set, with a bell
// on a failure. Otherwise, or with --json: one JSON object per line for each event, a unit's end
// with its whole record.
class StationDisplay {
  public:
    // `columns`: the terminal's width, 0 when unknown.
    StationDisplay(const Session& session, std::vector<std::string> slots, std::string batch,
                   bool terminal, bool colour, std::size_t columns);
    // Called one event at a time.
    void Show(const station::Event& event);
    // The central journal's forwarding: in the header, or an object of its own.
    void ShowCentral(const journal::ForwardStatus& status);
    // A unit's certificate or label ("certificate", "label") that could not be made: on its
    // slot's line, or an object of its own.
    void ShowPaperFailed(const journal::UnitRow& row, const std::string& what,
                         const std::string& detail);
    // The closing line (or object) with the counts.
    void Finish(const station::Summary& summary);

  private:
    struct SlotLine {
        std::string state = "probing";
        std::string last;  // the last unit: its number and verdict, with the reason
        bool last_failed = false;
    };
    void Draw();
    std::string Paint(const std::string& text, const char* colour) const;

    const Session& session_;
    std::vector<std::string> slots_;
    std::string batch_;
    bool terminal_;
    bool colour_;
    std::size_t columns_;
    bool drawn_ = false;
    std::vector<SlotLine> lines_;
    std::optional<journal::ForwardStatus> central_;
    int passed_ = 0;
    int failed_ = 0;
    station::UnitRate rate_;
};

using station::UnitJson;
