#include "web/page_state.h"

#include <utility>

namespace web {

using station::Json;

PageState::PageState(PageSettings settings, Clock::time_point start)
    : settings_(std::move(settings)), tiles_(settings_.slots.size()), rate_(start) {}

Json PageState::Apply(const station::Event& event, Clock::time_point at) {
    using Kind = station::Event::Kind;
    Json json = station::EventJson(event, std::nullopt);
    if (event.slot >= tiles_.size()) return json;
    Tile& tile = tiles_[event.slot];
    switch (event.kind) {
        case Kind::kSlot:
            tile.state = event.state;
            tile.step = event.step == station::Step::kNone ? "" : station::StepName(event.step);
            tile.detail = event.detail;
            break;
        case Kind::kUnitStarted:
            tile.unit = event.row.unit;
            tile.id = event.row.id;
            tile.verdict.clear();
            tile.reason.clear();
            tile.started = at;
            break;
        case Kind::kUnitEnded: {
            tile.unit = event.row.unit;
            tile.id = event.row.id;
            tile.verdict = journal::ShownVerdict(event.row);
            tile.reason = event.row.verdict == "pass" ? "" : event.row.error;
            if (tile.verdict == "pass") ++passed_;
            if (tile.verdict == "fail") ++failed_;
            if (tile.verdict == "interrupted") ++interrupted_;
            if (tile.verdict != "interrupted") rate_.Ended(at);
            const double seconds = std::chrono::duration<double>(at - tile.started).count();
            std::size_t bucket = 0;
            while (bucket < kBounds.size() && seconds > kBounds[bucket]) ++bucket;
            ++durations_[bucket];
            duration_sum_ += seconds;
            if (const std::optional<double> rate = rate_.PerHour(at)) json["units_per_hour"] = *rate;
            break;
        }
        case Kind::kJournalFailed:
            // Its reason names the journal's file, which a page on the network must not show.
            json.erase("detail");
            break;
    }
    return json;
}

Json PageState::Apply(const journal::ForwardStatus& status) {
    central_ = status;
    return station::CentralJson(status, false);
}

Json PageState::State() const {
    const Json profile = Json::parse(settings_.profile, nullptr, false);
    Json brief = Json::object();
    for (const char* key : {"sensor", "upper", "lower", "output"}) {
        if (profile.is_object() && profile.contains(key)) brief[key] = profile[key];
    }
    Json slots = Json::array();
    for (std::size_t i = 0; i < tiles_.size(); ++i) {
        const Tile& tile = tiles_[i];
        const auto text = [](const std::string& value) {
            return value.empty() ? Json(nullptr) : Json(value);
        };
        slots.push_back(Json{{"number", i + 1},
                             {"slot", settings_.slots[i]},
                             {"state", station::StateName(tile.state)},
                             {"step", text(tile.step)},
                             {"detail", text(tile.detail)},
                             {"unit", text(tile.unit)},
                             {"id", text(tile.id)},
                             {"verdict", text(tile.verdict)},
                             {"reason", text(tile.reason)}});
    }
    const std::optional<double> rate = rate_.PerHour();
    Json json{{"event", "state"},
              {"batch", settings_.batch},
              {"profile", brief},
              {"operator", settings_.operator_name},
              {"passed", passed_},
              {"failed", failed_},
              {"interrupted", interrupted_},
              {"units_per_hour", rate ? Json(*rate) : Json(nullptr)},
              {"central", central_ ? station::CentralJson(*central_, false) : Json(nullptr)},
              {"slots", slots}};
    return json;
}

}  // namespace web
