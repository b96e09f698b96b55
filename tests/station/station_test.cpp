// The station in-process against simulated transmitters, one per slot: what each device
// received, and what the journal holds of each unit.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iomanip>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/command_line.h"
#include "cli/station_display.h"
#include "cli/stop_signal.h"
#include "journal/journal.h"
#include "serial/device_path.h"
#include "sim/simulated_transmitter.h"
#include "sim/trace_format.h"
#include "station/unit_rate.h"
#include "tests/support/label_printer.h"

namespace {

using namespace std::chrono_literals;
using Devices = std::vector<std::unique_ptr<sim::SimulatedTransmitter>>;
namespace fs = std::filesystem;

const std::string kProfile =
    "--sensor K --upper 300 --lower -50 --output 4-20 --fault high "
    "--compensation on";
// What a unit of firmware 1.0.3 receives from its probe to its cold-junction reading.
const std::string kUnit =
    "AA AA 43 AA AA 42 AA AA 44 03 01 5E 80 32 01 00 00 00 00 00 01 00 AA AA 42 AA AA 45";

bool Heard(const sim::SimulatedTransmitter& device, std::uint8_t command, int times = 1) {
    int seen = 0;
    for (const sim::TraceEntry& entry : device.Trace()) {
        seen += !entry.received.empty() && entry.received.front() == command;
    }
    return seen >= times;
}

void WaitUntil(const std::function<bool()>& done, std::chrono::seconds patience = 30s) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (!done() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
}

// A terminal program's lock file, naming init, which is always alive.
std::string LockFileOf(const sim::SimulatedTransmitter& device) {
    std::string name = device.PortPath().substr(5);
    std::replace(name.begin(), name.end(), '/', '_');
    return "/run/lock/LCK.." + name;
}

// What happens around the station while it runs, on a thread of its own; the last step of a
// row without --count ends the station as Ctrl+C would.
using Director = std::function<void(Devices&)>;

struct StationCase {
    const char* name;
    int devices;  // simulated transmitters; the first `slots` are on --ports
    int slots;
    std::string args;  // after the slots and the journal
    Director before;   // before the station starts; may be empty
    Director during;   // may be empty
    int exit_code;
    // The journal's rows, slot by slot: verdict, firmware and the sensor found, "pass 1.0.3 K".
    std::vector<std::string> verdicts;
    std::vector<std::string> wires;  // each device's; "N writes" counts its write frames
    // With --certificates @CERTIFICATES@ (a folder) or @NOWHERE@ (one under a file) and
    // --label-printer @PRINTER@: "N certificates, M labels, K failed", each certificate and
    // label of a unit with its verdict, and K the events of those that could not be made.
    std::string paper = {};
};
void PrintTo(const StationCase& row, std::ostream* os) {
    *os << row.name;
}

class StationTest : public ::testing::TestWithParam<StationCase> {
  protected:
    void SetUp() override {
        folder =
            std::filesystem::temp_directory_path() / ("station-test-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
    }
    void TearDown() override { std::filesystem::remove_all(folder); }
    std::filesystem::path folder;
};

std::string Shown(const journal::UnitRow& row) {
    const nlohmann::json found = nlohmann::json::parse(row.as_found, nullptr, false);
    std::string text = journal::ShownVerdict(row) + " " + row.firmware + " " +
                       (found.is_object() ? found.value("sensor", "?") : "-");
    if (!row.error.empty()) text += ": " + row.error;
    return text;
}

TEST_P(StationTest, ConfiguresEachUnitOnceAndJournalsIt) {
    const StationCase& row = GetParam();
    Devices devices;
    std::string ports;
    for (int i = 0; i < row.devices; ++i) {
        devices.push_back(std::make_unique<sim::SimulatedTransmitter>());
        ASSERT_TRUE(devices.back()->IsRunning());
        if (i < row.slots) ports += (ports.empty() ? "" : ",") + devices.back()->PortPath();
    }
    const std::string journal_file = (folder / "journal.sqlite3").string();
    std::vector<std::string> args{"station", "--ports", ports,        "--journal", journal_file,
                                  "--batch", "b1",      "--operator", "tester"};
    LabelPrinter printer;
    std::ofstream(folder / "file") << "not a folder";
    std::istringstream words(row.args);
    for (std::string word; words >> word;) {
        if (word == "@CERTIFICATES@") word = (folder / "certificates").string();
        if (word == "@NOWHERE@") word = (folder / "file" / "certificates").string();
        if (word == "@PRINTER@") word = printer.Address();
        args.push_back(word);
    }

    if (row.before) row.before(devices);
    std::thread director;
    if (row.during) {
        director = std::thread([&] {
            row.during(devices);
            if (row.args.find("--count") == std::string::npos) StopSignal() = SIGINT;
        });
    }
    std::istringstream in;
    std::ostringstream out, err;
    CliStreams io{in, out, err, {}, {}};
    EXPECT_EQ(RunCommandLine(args, io), row.exit_code) << err.str();
    if (director.joinable()) director.join();
    // The station removes its own lock files; what is left is the row's.
    for (const auto& device : devices) std::filesystem::remove(LockFileOf(*device));

    std::string error;
    const auto journal = journal::Journal::Open(journal_file, error);
    ASSERT_TRUE(journal) << error;
    // Slot by slot, each slot's units in turn: slots start their units in any order.
    std::vector<std::string> verdicts;
    const std::vector<journal::UnitRow> units = journal->Rows({}, error);
    for (const auto& device : devices) {
        for (const journal::UnitRow& unit : units) {
            if (unit.slot == device->PortPath()) verdicts.push_back(Shown(unit));
        }
    }
    EXPECT_EQ(verdicts, row.verdicts);
    if (!row.paper.empty()) {
        int certificates = 0, labels = 0;
        std::size_t passed = 0;
        for (const journal::UnitRow& unit : units) {
            certificates += fs::exists(folder / "certificates" / (unit.unit + ".pdf"));
            passed += unit.verdict == "pass";
        }
        const bool printing = row.args.find("@PRINTER@") != std::string::npos;
        for (const std::string& label : printer.Received(printing ? passed : 0)) {
            for (const journal::UnitRow& unit : units) {
                labels += unit.verdict == "pass" &&
                          label.find("^FD" + unit.unit + "^FS") != std::string::npos;
            }
        }
        std::size_t failed = 0;
        for (std::size_t at = out.str().find("failed\",\"slot"); at != std::string::npos;
             at = out.str().find("failed\",\"slot", at + 1)) {
            ++failed;
        }
        EXPECT_EQ(std::to_string(certificates) + " certificates, " + std::to_string(labels) +
                      " labels, " + std::to_string(failed) + " failed",
                  row.paper)
            << out.str();
    }
    for (std::size_t i = 0; i < row.wires.size(); ++i) {
        const std::string wire = sim::HexBytes(devices[i]->ReceivedValues());
        if (row.wires[i].ends_with(" writes")) {
            std::size_t writes = 0;
            for (std::size_t at = wire.find("AA AA 44"); at != std::string::npos;
                 at = wire.find("AA AA 44", at + 1)) {
                ++writes;
            }
            EXPECT_EQ(std::to_string(writes) + " writes", row.wires[i]) << "device " << i;
        } else {
            EXPECT_EQ(wire, row.wires[i]) << "device " << i;
        }
    }
}

std::array<std::uint8_t, 14> PT100() {
    return {0x44, 0x01, 0x04, 0x1A, 0x80, 0xC8, 0x01, 0, 0, 0, 0, 0, 0, 0};
}

// One row a few lines; the formatter would spread each field over its own line.
// clang-format off
INSTANTIATE_TEST_SUITE_P(Slots, StationTest, ::testing::ValuesIn(std::vector<StationCase>{
    {"four slots configure four units at once, each with the window's frames", 4, 4,
     kProfile + " --count 4", {}, {}, 0,
     {"pass 1.0.3 K", "pass 1.0.3 K", "pass 1.0.3 K", "pass 1.0.3 K"},
     {kUnit, kUnit, kUnit, kUnit}},
    {"a unit left in its fixture is not configured twice", 1, 1, kProfile, {},
     [](Devices& d) {
         WaitUntil([&] { return Heard(*d[0], 0x45); });
         WaitUntil([&] { return Heard(*d[0], 0x43, 4); });
     },
     0, {"pass 1.0.3 K"}, {"1 writes"}},
    {"a unit taken out and another put in: the next one is configured too", 1, 1,
     kProfile + " --count 2", {},
     [](Devices& d) {
         WaitUntil([&] { return Heard(*d[0], 0x45); });
         std::this_thread::sleep_for(300ms);
         d[0]->TakeOut();
         std::this_thread::sleep_for(3s);
         d[0]->SetConfiguration(PT100());
         d[0]->PutIn();
     },
     0, {"pass 1.0.3 K", "pass 1.0.3 PT100"}, {"2 writes"}},
    {"a unit taken out during its write fails, recorded with every try", 1, 1,
     kProfile + " --count 1", {},
     [](Devices& d) {
         WaitUntil([&] { return Heard(*d[0], 0x44); });
         d[0]->TakeOut();
     },
     1, {"fail 1.0.3 K: read back: no reply (try 1 of 3); read back: no reply (try 2 of 3); "
         "read back: no reply"}, {"1 writes"}},
    {"an adapter pulled out fails its unit with the port gone; the other slot goes on", 2, 2,
     kProfile + " --count 2", {},
     [](Devices& d) {
         WaitUntil([&] { return Heard(*d[0], 0x44); });
         d[0]->InjectFault(sim::Fault::kVanish);
     },
     1, {"fail 1.0.3 K: read back: port went away", "pass 1.0.3 K"}, {"1 writes", kUnit}},
    {"a reply lost once is asked for again and the unit passes", 1, 1, kProfile + " --count 1",
     {},
     [](Devices& d) {
         WaitUntil([&] { return Heard(*d[0], 0x43); });
         d[0]->InjectFault(sim::Fault::kSilence);
     },
     0, {"pass 1.0.3 K: read as found: no reply (try 1 of 3)"},
     {"AA AA 43 AA AA 42 " + kUnit.substr(9)}},
    {"firmware whose reply is unknown is not written", 1, 1, kProfile + " --count 1",
     [](Devices& d) { d[0]->SetVersion({1, 0, 4}); }, {}, 1,
     {"fail 1.0.4 -: firmware 1.0.4: its configuration reply is unknown to this program; not "
      "written"}, {"AA AA 43"}},
    {"a slot another program holds is left alone", 2, 2, kProfile + " --count 1",
     [](Devices& d) {
         std::ofstream(LockFileOf(*d[1])) << std::setw(10) << 1 << '\n';
     }, {}, 0, {"pass 1.0.3 K"}, {kUnit, "-"}},
    {"a write run while the station holds the slot finds the port busy, between two exchanges "
     "too", 1, 1, kProfile,
     {},
     [](Devices& d) {
         WaitUntil([&] { return Heard(*d[0], 0x45); });
         const std::string write = std::string(TRANSMITTER_CLI) + " write --no-journal --port " +
                                   d[0]->PortPath() + " --sensor K --upper 250 --lower -50 " +
                                   "--output 4-20 --fault high --compensation on 2>/dev/null";
         const int status = std::system(write.c_str());
         EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 4) << status;
     },
     0, {"pass 1.0.3 K"}, {"1 writes"}},
    {"a port on no slot is never written", 2, 1, kProfile + " --count 1", {}, {}, 0,
     {"pass 1.0.3 K"}, {kUnit, "-"}},
    {"a profile outside the sensor's range is refused before any port", 2, 2,
     "--sensor K --upper 2000 --lower 0 --output 4-20 --fault high --compensation on", {}, {}, 2,
     {}, {"-", "-"}},
    {"certificates and labels: one certificate for each verdict, one label for each pass", 2, 2,
     kProfile + " --count 2 --certificates @CERTIFICATES@ --label-printer @PRINTER@",
     [](Devices& d) { d[1]->SetVersion({1, 0, 4}); }, {}, 1,
     {"pass 1.0.3 K", "fail 1.0.4 -: firmware 1.0.4: its configuration reply is unknown to this "
      "program; not written"}, {kUnit, "AA AA 43"}, "2 certificates, 1 labels, 0 failed"},
    {"a folder that cannot be written and a dead printer are said, and change no verdict", 1, 1,
     kProfile + " --count 1 --certificates @NOWHERE@ --label-printer 127.0.0.1:1", {}, {}, 0,
     {"pass 1.0.3 K: label not printed: printer 127.0.0.1:1: cannot connect: Connection refused"},
     {kUnit}, "0 certificates, 0 labels, 2 failed"},
}));
// clang-format on

// ---------------------------------------------------------------------------------------------
// What the terminal shows of text from outside: escaped, and cut and padded by the columns it
// takes, never inside a character.

struct ScreenCase {
    const char* name;
    std::string batch;
    std::vector<std::string> slots;  // each shown busy with `detail`
    std::string detail;
    std::size_t columns;
    std::vector<std::string> lines;  // the header, then one line per slot
};
void PrintTo(const ScreenCase& row, std::ostream* os) {
    *os << row.name;
}

class StationScreen : public ::testing::TestWithParam<ScreenCase> {};

TEST_P(StationScreen, ShowsTextFromOutsideAsText) {
    const ScreenCase& row = GetParam();
    std::istringstream in;
    std::ostringstream out, err;
    CliStreams io{in, out, err, {}, {}};
    const Session session{io, "station", false, {}, {}, {}};
    StationDisplay display(session, row.slots, row.batch, true, false, row.columns);
    for (std::size_t i = 0; i < row.slots.size(); ++i) {
        station::Event event;
        event.slot = i;
        event.port = row.slots[i];
        event.state = station::SlotState::kBusy;
        event.detail = row.detail;
        display.Show(event);
    }
    // The last drawing, without its cursor moves.
    const std::string screen = out.str().substr(out.str().rfind("\x1b[2K" + row.lines[0]));
    std::istringstream drawn(std::regex_replace(screen, std::regex("\x1b\\[[0-9]*[KF]"), ""));
    std::vector<std::string> lines;
    for (std::string line; std::getline(drawn, line);) lines.push_back(line);
    EXPECT_EQ(lines, row.lines);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Texts, StationScreen, ::testing::ValuesIn(std::vector<ScreenCase>{
    {"a Cyrillic batch on a narrow terminal is cut between characters", "Партия", {"ttyS0"},
     "lock", 10, {"batch Пар", "ttyS0  bu"}},
    {"an escape sequence and a line break are shown escaped, not obeyed", "B\x1b]0;x\x07",
     {"ttyS0"}, "of mini\ncom", 40,
     {"batch B\\e]0;x\\x07   passed 0   failed 0", "ttyS0  busy (of mini\\ncom)"}},
    {"slots are padded to one column whatever bytes their names take", "b",
     {"/dev/serial/by-id/Адаптер", "/dev/ttyS0"}, "x", 30,
     {"batch b   passed 0   failed 0", "/dev/serial/by-id/Адаптер  bu",
      "/dev/ttyS0                 bu"}},
}));
// clang-format on

// Units per hour: units ended at these seconds after the start, asked at `now`; -1 for none.
struct RateCase {
    const char* name;
    std::vector<int> ended;
    int now;
    double per_hour;
};
void PrintTo(const RateCase& row, std::ostream* os) { *os << row.name; }

class UnitRateTest : public ::testing::TestWithParam<RateCase> {};

TEST_P(UnitRateTest, CountsTheLastQuarterHourOnceThereIsEnoughToTell) {
    const RateCase& row = GetParam();
    const station::UnitRate::Clock::time_point start{};
    station::UnitRate rate(start);
    for (int second : row.ended) rate.Ended(start + std::chrono::seconds(second));
    const std::optional<double> shown = rate.PerHour(start + std::chrono::seconds(row.now));
    if (row.per_hour < 0) {
        EXPECT_FALSE(shown) << *shown;
    } else {
        ASSERT_TRUE(shown);
        EXPECT_NEAR(*shown, row.per_hour, 1e-6);
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, UnitRateTest, ::testing::ValuesIn(std::vector<RateCase>{
    {"five units in the first three seconds show no rate yet", {1, 1, 2, 2, 3}, 3, -1},
    {"four units after ten minutes are too few to tell", {100, 200, 300, 400}, 600, -1},
    {"five units in the first two minutes are 150 an hour", {20, 40, 60, 80, 100}, 120, 150},
    {"after the quarter hour, only its units count", {10, 20, 30, 40, 50, 1000}, 1800, 4},
    {"units long gone leave the rate at nothing an hour", {1, 2, 3, 4, 5}, 3600, 0},
}));

}  // namespace
