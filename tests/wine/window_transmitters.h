#pragma once

// The simulated transmitters that scripts/wine-window-tests.sh starts, one per case, and what
// each of them received and replied. The script learns from the driver which cases want a
// transmitter and with which options, starts them on pseudo-terminals mapped to COM ports, and
// hands back a list of "case COM-port trace-file" lines.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/wine/window_driver.h"

namespace e2e {

struct CaseTransmitter {
    std::wstring port;  // e.g. COM21
    std::string trace;  // the transmitter's output, a path Windows can open
};

// The transmitter started for `case_name`, from the list named by CONFIGURATOR_WINDOW_CASES.
std::optional<CaseTransmitter> TransmitterFor(std::string_view case_name);

// The messages of the trace (after its "Port:" line), without their seconds column:
// "in: AA AA  out: -  unlock".
std::vector<std::string> MessagesIn(const std::string& trace);

// The messages once `count` of them are there and no more arrived for a while afterwards, so
// that an extra message is seen too; after kPatience, whatever is there.
std::vector<std::string> SettledMessages(const std::string& trace, std::size_t count);

// The part of a message line that the trace file writes after its time stamp.
std::string WithoutTimeStamp(std::string_view line);

}  // namespace e2e
