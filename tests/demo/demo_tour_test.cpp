// The tour that make demo takes without a display, run as transmitter-demo runs it: the real
// window on the demo's simulated transmitter, offscreen. What counts is what the tour leaves
// behind: its verdict, its last status line, its pictures and the transmitter's own state.

#include "demo/demo_tour.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>
#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/qt/configurator_shell.h"
#include "app/qt/main_window.h"
#include "demo/demo_options.h"
#include "resources/texts.h"
#include "serial/device_path.h"
#include "sim/simulated_transmitter.h"
#include "tests/support/recording_window.h"

namespace {

std::string ReadAll(std::FILE* file) {
    std::string text;
    std::rewind(file);
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        text.append(buffer, n);
    return text;
}

std::string LastStatus(const std::string& printed) {
    const std::string marker = "  status:  ";
    const std::size_t at = printed.rfind(marker);
    if (at == std::string::npos) return {};
    const std::size_t begin = at + marker.size();
    return printed.substr(begin, printed.find('\n', begin) - begin);
}

std::string Trimmed(std::u16string_view text) {
    const std::string utf8 = Utf8(text);
    return utf8.substr(utf8.find_first_not_of(' '));
}

struct TourRow {
    const char* name;
    sim::Fault first_reply;
    bool succeeds;
    std::u16string_view last_status;
    std::vector<std::string> pictures;
    // The transmitter's configuration afterwards; empty: the one the demo starts it with.
    std::optional<std::array<std::uint8_t, 14>> configuration;
    std::int16_t cold_junction_tenths;
};
void PrintTo(const TourRow& row, std::ostream* out) {
    *out << row.name;
}

const TourRow kRows[] = {
    {"EveryStepSucceedsAndTheTransmitterIsWrittenAndAdjusted",
     sim::Fault::kNone,
     true,
     texts::kAdjustSucceeded,
     {"01-connect.png", "02-read-configuration.png", "03-configure.png",
      "04-read-configuration-again.png", "05-read-cold-junction.png", "06-adjust.png"},
     // K from -50 to 300, 4-20 mA, high fault level, compensated.
     std::array<std::uint8_t, 14>{0x44, 0x03, 0x01, 0x5E, 0x80, 0x32, 0x01, 0x00, 0x00, 0x00, 0x00,
                                  0x00, 0x01, 0x00},
     250},
    {"ASilentTransmitterStopsTheTourAtConnect",
     sim::Fault::kSilence,
     false,
     texts::kVersionReadError,
     {"01-connect.png"},
     std::nullopt,
     234},
};

class DemoTour : public ::testing::TestWithParam<TourRow> {};

TEST_P(DemoTour, LeavesItsVerdictPicturesAndTheTransmittersState) {
    const TourRow& row = GetParam();
    static int argc = 1;
    static char name[] = "transmitter-demo";
    static char* argv[] = {name, nullptr};
    std::string error;
    const std::optional<DemoOptions> options = ParseDemoOptions(argc, argv, error);
    ASSERT_TRUE(options.has_value()) << error;
    sim::SimulatedTransmitter device(options->device);
    ASSERT_TRUE(device.IsRunning());
    device.InjectFault(row.first_reply);

    QApplication application(argc, argv);
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    std::FILE* printed = std::tmpfile();
    ASSERT_NE(printed, nullptr);
    const std::u16string port = PortNameFromDevicePath(device.PortPath());
    bool succeeded = !row.succeeds;
    RunConfigurator([port] { return std::optional(std::vector<std::u16string>{port}); },
                    [&](MainWindow& window) {
                        QTimer::singleShot(0, &window, [&] {
                            succeeded = RunTour(window, folder.path(), printed);
                            window.close();
                        });
                    });
    const std::string output = ReadAll(printed);
    std::fclose(printed);

    EXPECT_EQ(succeeded, row.succeeds) << output;
    EXPECT_EQ(LastStatus(output), Trimmed(row.last_status));
    std::vector<std::string> pictures;
    for (const QString& file : QDir(folder.path()).entryList(QDir::Files, QDir::Name)) {
        pictures.push_back(file.toStdString());
    }
    EXPECT_EQ(pictures, row.pictures);
    EXPECT_EQ(device.Configuration(), row.configuration.value_or(options->device.configuration));
    EXPECT_EQ(device.ColdJunctionTenths(), row.cold_junction_tenths);
}

INSTANTIATE_TEST_SUITE_P(Table, DemoTour, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
