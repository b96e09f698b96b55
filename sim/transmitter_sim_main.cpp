// transmitter-sim: a simulated transmitter on a pseudo-terminal, for trying the configurator
// or a terminal program without the device.

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "sim/simulated_transmitter.h"
#include "sim/option_values.h"
#include "sim/trace_format.h"

namespace {

constexpr std::string_view kUsage =
    "Usage: transmitter-sim [options]\n"
    "\n"
    "Simulates the temperature transmitter on a pseudo-terminal. The first line printed is\n"
    "\"Port: <path>\"; open that path as the serial port. Then one line per message follows:\n"
    "seconds since start, bytes received, bytes sent back, and what the device made of them.\n"
    "Stop with Ctrl+C.\n"
    "\n"
    "Options:\n"
    "  --version A.B.C          firmware version to report (default 1.0.3)\n"
    "  --cold-junction DEGREES  cold-junction temperature to report (default 23.4)\n"
    "  --unlock-window-ms N     how long the unlock preamble holds (default 10000)\n"
    "  --no-lock                answer commands without the unlock preamble\n"
    "  --adjust-error DEGREES   added to every cold-junction adjustment (default 0)\n"
    "  --late-reply-ms N        the first reply comes N ms after its command instead of at once\n"
    "  --help                   show this text\n";

int Fail(const std::string& message) {
    std::fprintf(stderr, "transmitter-sim: %s\n", message.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    sim::Options options;
    bool first_reply_late = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view flag = argv[i];
        const bool has_value = i + 1 < argc;
        if (flag == "--help" || flag == "-h") {
            std::fputs(kUsage.data(), stdout);
            return 0;
        } else if (flag == "--no-lock") {
            options.require_unlock = false;
        } else if (flag == "--version" && has_value) {
            const auto version = sim::ParseVersionOption(argv[++i]);
            if (!version) return Fail("--version wants three numbers 0-255, e.g. 1.0.3");
            options.version = *version;
        } else if (flag == "--cold-junction" && has_value) {
            const auto tenths = sim::ParseTenthsOption(argv[++i]);
            if (!tenths) return Fail("--cold-junction wants degrees, e.g. 23.4");
            options.cold_junction_tenths = *tenths;
        } else if (flag == "--adjust-error" && has_value) {
            const auto tenths = sim::ParseTenthsOption(argv[++i]);
            if (!tenths) return Fail("--adjust-error wants degrees, e.g. 1.5");
            options.adjustment_error_tenths = *tenths;
        } else if (flag == "--unlock-window-ms" && has_value) {
            const auto milliseconds = sim::ParseMillisecondsOption(argv[++i]);
            if (!milliseconds) return Fail("--unlock-window-ms wants a number of milliseconds");
            options.unlock_window = *milliseconds;
        } else if (flag == "--late-reply-ms" && has_value) {
            const auto milliseconds = sim::ParseMillisecondsOption(argv[++i]);
            if (!milliseconds) return Fail("--late-reply-ms wants a number of milliseconds");
            options.late_reply_delay = *milliseconds;
            first_reply_late = true;
        } else {
            std::fputs(kUsage.data(), stderr);
            return Fail("unknown or incomplete option " + std::string(flag));
        }
    }

    // Blocked before the device thread starts, so that it inherits the mask and only sigwait
    // below ever sees the signals.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    const auto start = std::chrono::steady_clock::now();
    std::mutex output;
    options.on_message = [&](const sim::TraceEntry& entry) {
        const std::lock_guard lock(output);
        std::printf("%s\n", sim::TraceLine(entry, start).c_str());
        std::fflush(stdout);
    };

    sim::SimulatedTransmitter transmitter(std::move(options));
    if (!transmitter.IsRunning()) {
        std::fprintf(stderr, "transmitter-sim: no pseudo-terminal could be made\n");
        return 1;
    }
    if (first_reply_late) transmitter.InjectFault(sim::Fault::kLateReply);
    {
        const std::lock_guard lock(output);
        std::printf("Port: %s\n", transmitter.PortPath().c_str());
        std::fflush(stdout);
    }

    int received = 0;
    sigwait(&stop_signals, &received);
    return 0;
}
