#include "demo/demo_options.h"

#include <string_view>

#include "sim/option_values.h"

const char* const kDemoUsage =
    "Usage: transmitter-demo [options]\n"
    "\n"
    "Runs the configurator's window on a simulated transmitter, in this process, so that every\n"
    "button can be tried without the device. The simulated transmitter is the only serial port\n"
    "the window finds. The access code for \"юстировать\" is 8163.\n"
    "\n"
    "Options:\n"
    "  --version A.B.C          firmware version the transmitter reports (default 1.0.3)\n"
    "  --cold-junction DEGREES  its cold-junction temperature (default 23.4)\n"
    "  --adjust-error DEGREES   added to every adjustment, to see one fail (default 0)\n"
    "  --trace                  print every frame the transmitter receives and sends\n"
    "  --tour FOLDER            click through the main operations by itself, print each step's\n"
    "                           message, save a picture of the window per step in FOLDER and\n"
    "                           exit 0 when every step succeeded; without a display it runs on\n"
    "                           Qt's offscreen platform\n"
    "  --help                   show this text\n";

std::optional<DemoOptions> ParseDemoOptions(int argc, char** argv, std::string& error) {
    DemoOptions options;
    // A configuration other than the one the tour writes, so that reading it back shows the
    // change: PT100 from 0 to 100, 4-20 mA, low fault level, with compensation.
    options.device.configuration = {0x44, 0x01, 0x00, 0x64, 0x00, 0x00, 0x01,
                                    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    for (int i = 1; i < argc; ++i) {
        const std::string_view flag = argv[i];
        const bool has_value = i + 1 < argc;
        if (flag == "--help" || flag == "-h") {
            options.help = true;
        } else if (flag == "--trace") {
            options.trace = true;
        } else if (flag == "--tour" && has_value) {
            options.tour_folder = argv[++i];
            if (options.tour_folder.empty()) {
                error = "--tour wants a folder for the pictures, e.g. demo-tour";
                return std::nullopt;
            }
        } else if (flag == "--version" && has_value) {
            const auto version = sim::ParseVersionOption(argv[++i]);
            if (!version) {
                error = "--version wants three numbers 0-255, e.g. 1.0.3";
                return std::nullopt;
            }
            options.device.version = *version;
        } else if (flag == "--cold-junction" && has_value) {
            const auto tenths = sim::ParseTenthsOption(argv[++i]);
            if (!tenths) {
                error = "--cold-junction wants degrees, e.g. 23.4";
                return std::nullopt;
            }
            options.device.cold_junction_tenths = *tenths;
        } else if (flag == "--adjust-error" && has_value) {
            const auto tenths = sim::ParseTenthsOption(argv[++i]);
            if (!tenths) {
                error = "--adjust-error wants degrees, e.g. 1.5";
                return std::nullopt;
            }
            options.device.adjustment_error_tenths = *tenths;
        } else {
            error = "unknown or incomplete option " + std::string(flag);
            return std::nullopt;
        }
    }
    return options;
}
