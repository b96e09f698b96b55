#pragma once

#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "journal/forwarder.h"
#include "station/event_json.h"
#include "station/station.h"
#include "station/unit_rate.h"

// What the operator page shows and /metrics counts, kept from the station's events: the
// header (batch, profile, operator, counts, rate, the central journal) and one tile per slot.
// Keys and metric names are English whatever language the page speaks.
namespace web {

struct PageSettings {
    std::vector<std::string> slots;  // as --ports names them, in that order
    std::string batch;
    std::string operator_name;
    std::string profile;  // the entry's JSON
    bool central = false;
    std::string version;
};

class PageState {
  public:
    using Clock = std::chrono::steady_clock;
    explicit PageState(PageSettings settings, Clock::time_point start = Clock::now());

    // The event as the page receives it (the object `--json` prints, less what names a file).
    station::Json Apply(const station::Event& event, Clock::time_point at = Clock::now());
    station::Json Apply(const journal::ForwardStatus& status);

    station::Json State() const;
    // The Prometheus text format.
    std::string Metrics() const;

  private:
    struct Tile {
        station::SlotState state = station::SlotState::kProbing;
        std::string step, detail, unit, id, verdict, reason;
        Clock::time_point started;
    };

    PageSettings settings_;
    std::vector<Tile> tiles_;
    int passed_ = 0, failed_ = 0, interrupted_ = 0;
    station::UnitRate rate_;
    std::optional<journal::ForwardStatus> central_;
    // A unit's seconds: the upper bounds of the histogram's buckets, and each bucket's count.
    static constexpr std::array<double, 9> kBounds{1, 2, 5, 10, 20, 30, 60, 120, 300};
    std::array<long, kBounds.size() + 1> durations_{};
    double duration_sum_ = 0;
};

}  // namespace web
