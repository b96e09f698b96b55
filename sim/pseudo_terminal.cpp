#include "sim/pseudo_terminal.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>

namespace sim {
namespace {

std::string PortPathOf(int master) {
#ifdef __linux__
    // ptsname_r is a GNU extension; it avoids ptsname's shared static buffer.
    char name[128] = {};
    if (::ptsname_r(master, name, sizeof name) != 0) return {};
    return name;
#else
    // Elsewhere only the non-reentrant ptsname exists; it runs once per device, before the
    // device thread starts.
    const char* name = ::ptsname(master);
    return name != nullptr ? std::string(name) : std::string();
#endif
}

}  // namespace

PseudoTerminal OpenPseudoTerminal() {
    PseudoTerminal terminal;
    UniqueFd master(::posix_openpt(O_RDWR | O_NOCTTY));
    if (!master.IsValid()) return {};
    if (::grantpt(master.Get()) != 0 || ::unlockpt(master.Get()) != 0) return {};
    const int flags = ::fcntl(master.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(master.Get(), F_SETFL, flags | O_NONBLOCK) != 0) return {};
    (void)::fcntl(master.Get(), F_SETFD, FD_CLOEXEC);

    // A fresh pseudo-terminal echoes and translates line ends; a serial line does neither.
    // Set through the master, the port side's settings are raw before anyone opens it.
    termios settings{};
    if (::tcgetattr(master.Get(), &settings) != 0) return {};
    ::cfmakeraw(&settings);
    if (::tcsetattr(master.Get(), TCSANOW, &settings) != 0) return {};

    terminal.port_path = PortPathOf(master.Get());
    if (terminal.port_path.empty()) return {};
    // No flock and no TIOCEXCL here: the program takes both on its own opening.
    UniqueFd slave(::open(terminal.port_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!slave.IsValid()) return {};

    terminal.device = std::move(master);
    terminal.port = std::move(slave);
    return terminal;
}

}  // namespace sim
