// transmitter-sim: a simulated transmitter on a pseudo-terminal, for trying the configurator
// or a terminal program without the device.

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>

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
    "Lines on standard input swap the unit in the fixture: \"out\" takes it out, \"in\" puts\n"
    "one in, \"config 44 03 01 5E ...\" gives it the configuration frame (14 hex bytes) first,\n"
    "so that it comes back as another unit. Stop with Ctrl+C.\n"
    "\n"
    "Options:\n"
    "  --version A.B.C          firmware version to report (default 1.0.3)\n"
    "  --cold-junction DEGREES  cold-junction temperature to report (default 23.4)\n"
    "  --unlock-window-ms N     how long the unlock preamble holds (default 10000)\n"
    "  --no-lock                answer commands without the unlock preamble\n"
    "  --adjust-error DEGREES   added to every cold-junction adjustment (default 0)\n"
    "  --late-reply-ms N        the first reply comes N ms after its command instead of at once\n"
    "  --help                   show this text\n";

// "44 03 01 5E ..." as a configuration frame; nothing unless it is 14 hex bytes led by 44.
std::optional<std::array<std::uint8_t, 14>> ParseFrame(std::istream& words) {
    std::array<std::uint8_t, 14> frame{};
    std::size_t count = 0;
    for (std::string word; words >> word;) {
        if (count == frame.size() || word.size() != 2 ||
            word.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
            return std::nullopt;
        }
        frame[count++] = static_cast<std::uint8_t>(std::stoul(word, nullptr, 16));
    }
    if (count != frame.size() || frame[0] != 0x44) return std::nullopt;
    return frame;
}

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

    // Noted in the trace, so that whoever reads it can tell one unit's messages from the next.
    const auto note = [&](const std::string& text) {
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count();
        const std::lock_guard lock(output);
        std::printf("%5lld.%03lld  %s\n", static_cast<long long>(elapsed / 1000),
                    static_cast<long long>(elapsed % 1000), text.c_str());
        std::fflush(stdout);
    };
    // Never joined: it may sit in a read when the signal comes.
    std::thread([&transmitter, note] {
        for (std::string line; std::getline(std::cin, line);) {
            std::istringstream words(line);
            std::string command;
            words >> command;
            if (command == "out") {
                transmitter.TakeOut();
                note("unit taken out");
            } else if (command == "in") {
                transmitter.PutIn();
                note("unit put in");
            } else if (const auto frame = command == "config" ? ParseFrame(words) : std::nullopt) {
                transmitter.SetConfiguration(*frame);
                note("configuration set: " + sim::HexBytes(*frame));
            } else if (!command.empty()) {
                std::fprintf(stderr, "transmitter-sim: unknown command %s\n", line.c_str());
            }
        }
    }).detach();

    int received = 0;
    sigwait(&stop_signals, &received);
    return 0;
}
