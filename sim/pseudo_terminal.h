#pragma once

#include <string>

#include "sim/unique_fd.h"

namespace sim {

// Both ends of a pseudo-terminal in raw mode. The device keeps a port-side descriptor of its
// own so that the line survives the program's openings and closings: without it the device
// side would see a hang-up each time the program closes, and bytes in flight could be lost.
struct PseudoTerminal {
    UniqueFd device;  // the master side, non-blocking
    UniqueFd port;    // the device's own slave descriptor, never read or written
    std::string port_path;
};

// An empty result (invalid descriptors) when the platform refuses.
PseudoTerminal OpenPseudoTerminal();

}  // namespace sim
