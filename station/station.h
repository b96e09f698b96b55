#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "device/exchange.h"
#include "device/write_entry.h"
#include "journal/journal.h"

// The commissioning station's engine: one independent run per slot (a port with a fixture on
// it), each probing for a unit, configuring and verifying every unit that appears and writing
// it to the journal. It reports events and never prints; whoever shows them decides how.
namespace station {

// What a slot is doing, as the operator sees it.
enum class SlotState {
    kProbing,  // empty, asking about once a second whether a unit is in
    kRunning,  // a unit is being commissioned (see Step)
    kDone,     // the last unit has its verdict; waiting for it to be taken out
    kBusy,     // another program holds the port; left alone
    kAbsent,   // the port is not there (adapter unplugged)
    kStopped,  // the station has ended
};

enum class Step { kNone, kReadAsFound, kWrite, kReadBack, kColdJunction, kAdjust };

struct Event {
    enum class Kind { kSlot, kUnitStarted, kUnitEnded, kJournalFailed } kind = Kind::kSlot;
    std::size_t slot = 0;  // index into Settings::ports
    std::string port;      // the slot as named
    SlotState state = SlotState::kProbing;
    Step step = Step::kNone;
    std::string detail;    // the busy or absent reason, the journal's error
    journal::UnitRow row;  // for the unit events: the row as committed
};

struct Settings {
    std::vector<std::string> ports;  // the slots, and the only ports ever written to
    CheckedEntry entry;              // what every unit is given
    std::string profile;             // its JSON, as journaled
    std::optional<std::int16_t> adjust_to_tenths;
    std::string batch;
    std::string operator_name;
    std::string station;                     // the host name
    int count = 0;                           // stop once this many units have ended; 0: no limit
    const std::atomic<int>* stop = nullptr;  // a signal's number once the station is to end
    std::chrono::milliseconds probe_every{1000};
    // Told of every frame of a slot (may be empty), with the slot's index.
    std::function<void(std::size_t slot, Direction, const std::vector<std::uint8_t>&,
                       std::string_view)>
        trace;
};

struct Summary {
    int passed = 0;
    int failed = 0;
    int interrupted = 0;
    std::string journal_error;  // why the station stopped taking units, if the journal failed
};

// Runs every slot on a thread of its own until `stop`, `count` or a journal failure ends the
// station; the units in progress are then recorded as they stand. `report` is called for
// every event, one at a time, in the order the events happened.
Summary RunStation(const Settings& settings, journal::Journal& journal,
                   const std::function<void(const Event&)>& report);

std::string StepName(Step step);         // "read as found", "write", ...
std::string StateName(SlotState state);  // "probing", "running", ...

}  // namespace station
