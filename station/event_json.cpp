#include "station/event_json.h"

namespace station {

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

Json EventJson(const Event& event, std::optional<double> units_per_hour) {
    using Kind = Event::Kind;
    Json json;
    switch (event.kind) {
        case Kind::kSlot:
            json = Json{{"event", "slot"},
                        {"slot", event.port},
                        {"state", StateName(event.state)},
                        {"step", event.step == Step::kNone ? Json(nullptr)
                                                           : Json(StepName(event.step))}};
            if (!event.detail.empty()) json["detail"] = event.detail;
            break;
        case Kind::kUnitStarted:
            json = Json{{"event", "unit started"},
                        {"slot", event.port},
                        {"unit", event.row.unit},
                        {"id", event.row.id}};
            break;
        case Kind::kUnitEnded:
            json = Json{{"event", "unit ended"},
                        {"slot", event.port},
                        {"record", UnitJson(event.row)},
                        {"units_per_hour", nullptr}};
            if (units_per_hour) json["units_per_hour"] = *units_per_hour;
            break;
        case Kind::kJournalFailed:
            json = Json{{"event", "journal failed"}, {"slot", event.port}, {"detail", event.detail}};
            break;
    }
    return json;
}

Json CentralJson(const journal::ForwardStatus& status, bool with_reason) {
    Json json{{"event", "central"}, {"waiting", status.waiting}, {"reachable", status.reachable}};
    if (!status.reachable) {
        json["since"] = status.down_since;
        if (with_reason) json["reason"] = status.reason;
    } else {
        json["encrypted"] = status.encrypted;
        json["verified"] = status.verified;
    }
    json["set_aside"] = status.set_aside;
    if (with_reason && status.set_aside > 0) json["refusal"] = status.refusal;
    if (!status.warning.empty()) json["warning"] = status.warning;
    return json;
}

}  // namespace station
