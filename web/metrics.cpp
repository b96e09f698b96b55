// /metrics, in the Prometheus text format; no label carries a unit, so that the series stay few.
#include <cstdio>

#include "web/page_state.h"

namespace web {

namespace {

void Family(std::string& text, const char* name, const char* type, const char* help) {
    text += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

std::string Number(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.9g", value);
    return buffer;
}

}  // namespace

std::string PageState::Metrics() const {
    std::string text;
    Family(text, "transmitter_station_units_total", "counter",
           "Units that ended since the station started, by verdict.");
    for (const auto& [verdict, count] : {std::pair{"pass", passed_}, std::pair{"fail", failed_},
                                         std::pair{"interrupted", interrupted_}}) {
        text += std::string("transmitter_station_units_total{verdict=\"") + verdict + "\"} " +
                std::to_string(count) + "\n";
    }
    Family(text, "transmitter_station_slots", "gauge", "Slots by the state they are in.");
    using station::SlotState;
    for (SlotState state : {SlotState::kProbing, SlotState::kRunning, SlotState::kDone,
                            SlotState::kBusy, SlotState::kAbsent, SlotState::kStopped}) {
        int count = 0;
        for (const Tile& tile : tiles_) count += tile.state == state;
        text += "transmitter_station_slots{state=\"" + station::StateName(state) + "\"} " +
                std::to_string(count) + "\n";
    }
    Family(text, "transmitter_station_unit_duration_seconds", "histogram",
           "Time from a unit's start to its verdict.");
    long cumulative = 0;
    for (std::size_t i = 0; i <= kBounds.size(); ++i) {
        cumulative += durations_[i];
        text += "transmitter_station_unit_duration_seconds_bucket{le=\"" +
                (i < kBounds.size() ? Number(kBounds[i]) : std::string("+Inf")) + "\"} " +
                std::to_string(cumulative) + "\n";
    }
    text += "transmitter_station_unit_duration_seconds_sum " + Number(duration_sum_) + "\n";
    text += "transmitter_station_unit_duration_seconds_count " + std::to_string(cumulative) + "\n";
    if (settings_.central) {
        Family(text, "transmitter_station_central_waiting_rows", "gauge",
               "Journal rows not yet in the central journal.");
        text += "transmitter_station_central_waiting_rows " +
                std::to_string(central_ ? central_->waiting : 0) + "\n";
    }
    Family(text, "transmitter_station_build_info", "gauge", "The program's version.");
    text += "transmitter_station_build_info{version=\"" + settings_.version + "\"} 1\n";
    return text;
}

}  // namespace web
