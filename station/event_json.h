#pragma once

#include <nlohmann/json.hpp>
#include <optional>

#include "journal/forwarder.h"
#include "journal/journal.h"
#include "station/station.h"

// The station's events as JSON objects: what `station --json` prints one per line and what the
// operator page receives, so that the two never tell a unit differently. The keys never change
// with a language.
namespace station {

using Json = nlohmann::ordered_json;

// A journal row, the column names as keys; the verdict as it is shown.
Json UnitJson(const journal::UnitRow& row);

// One event; a unit's end carries the recent units per hour (null until there is a rate).
Json EventJson(const Event& event, std::optional<double> units_per_hour);

// The central journal's forwarding; `with_reason`: the reason it failed, which names the
// server and so stays off the network page.
Json CentralJson(const journal::ForwardStatus& status, bool with_reason);

}  // namespace station
