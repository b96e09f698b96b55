// transmitter-demo: the configurator's own window on a simulated transmitter in this process,
// for trying every button without the device, or (--tour) for a scripted run through them.

#include <QApplication>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "app/qt/configurator_shell.h"
#include "app/qt/main_window.h"
#include "demo/demo_options.h"
#include "demo/demo_tour.h"
#include "device/access_code.h"
#include "serial/device_path.h"
#include "sim/simulated_transmitter.h"
#include "sim/trace_format.h"

namespace {

bool HasDisplay() {
#if defined(__linux__)
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
#else
    return true;
#endif
}

}  // namespace

int main(int argc, char* argv[]) {
    std::string error;
    std::optional<DemoOptions> options = ParseDemoOptions(argc, argv, error);
    if (!options) {
        std::fputs(kDemoUsage, stderr);
        std::fprintf(stderr, "transmitter-demo: %s\n", error.c_str());
        return 2;
    }
    if (options->help) {
        std::fputs(kDemoUsage, stdout);
        return 0;
    }
    const bool touring = !options->tour_folder.empty();
    if (!HasDisplay()) {
        if (!touring) {
            std::fputs(
                "transmitter-demo: no display (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                "Run it on a desktop, or try: transmitter-demo --tour demo-tour\n",
                stderr);
            return 1;
        }
        std::puts("No display: the tour runs on Qt's offscreen platform.");
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }

    const auto start = std::chrono::steady_clock::now();
    if (options->trace) {
        // From the transmitter's thread; each line goes out whole in one call.
        options->device.on_message = [start](const sim::TraceEntry& entry) {
            std::printf("  [transmitter] %s\n", sim::TraceLine(entry, start).c_str());
            std::fflush(stdout);
        };
    }
    sim::SimulatedTransmitter transmitter(options->device);
    if (!transmitter.IsRunning()) {
        std::fputs("transmitter-demo: no pseudo-terminal could be made\n", stderr);
        return 1;
    }
    const std::string port = transmitter.PortPath();
    std::printf(
        "This is a demo: the configurator on a simulated transmitter at %s.\n"
        "The access code for \"юстировать\" is %d.\n",
        port.c_str(), static_cast<int>(kAccessCode));
    std::fflush(stdout);

    QApplication application(argc, argv);
    const std::u16string port_name = PortNameFromDevicePath(port);
    bool toured = true;
    RunConfigurator([port_name] { return std::optional(std::vector<std::u16string>{port_name}); },
                    [&](MainWindow& window) {
                        if (!touring) return;
                        // Once the window's own loop runs; closing it afterwards ends the program.
                        QTimer::singleShot(0, &window, [&] {
                            toured = RunTour(window, QString::fromLocal8Bit(options->tour_folder),
                                             stdout);
                            window.close();
                        });
                    });
    return toured ? 0 : 1;
}
