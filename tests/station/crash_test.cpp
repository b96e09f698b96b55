// The station killed outright at a random moment, again and again on one journal file: what it
// leaves must be a sound database in which no written unit goes unrecorded and no unit passes
// without the read-back that proves its write.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <numeric>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/simulated_transmitter.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Table = std::vector<std::vector<std::string>>;  // NULL reads "NULL"

constexpr int kRuns = 12;
// A unit is done about 2.6 s after the station starts, so kills in this span land in probing,
// each step of the unit, and after its verdict.
constexpr double kEarliest = 0.3, kLatest = 5.0;

// Standard output and error both go to `output`, to be shown when a run goes wrong.
pid_t Launch(std::vector<std::string> words, const fs::path& output) {
    words.insert(words.begin(), TRANSMITTER_CLI);
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out, STDOUT_FILENO);
        ::dup2(out, STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out);
    return pid;
}

std::string Contents(const fs::path& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The file as anyone with the sqlite3 shell would find it after the crash.
Table Query(const fs::path& file, const std::string& sql) {
    Table table;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        const auto add = [](void* rows, int count, char** values, char**) {
            auto& row = static_cast<Table*>(rows)->emplace_back();
            for (int i = 0; i < count; ++i) row.push_back(values[i] ? values[i] : "NULL");
            return 0;
        };
        if (sqlite3_exec(db, sql.c_str(), add, &table, nullptr) != SQLITE_OK) {
            table = {{"failed: " + std::string(sqlite3_errmsg(db))}};
        }
    }
    sqlite3_close(db);
    return table;
}

// What a transmitter made of the lines in one run, in the order it heard them.
struct Heard {
    bool anything = false, written = false, read_back = false;
};
Heard HeardBy(const sim::SimulatedTransmitter& device) {
    Heard heard;
    for (const sim::TraceEntry& entry : device.Trace()) {
        heard.anything = true;
        if (entry.received.size() == 14 && entry.received[0] == 0x44) heard.written = true;
        if (heard.written && entry.received == std::vector<std::uint8_t>{0x42}) {
            heard.read_back = true;
        }
    }
    return heard;
}

// Each slot's last state and step, as the station reported them before it died.
std::string LastSteps(const fs::path& output) {
    std::map<std::string, std::string> last;
    std::istringstream lines(Contents(output));
    for (std::string line; std::getline(lines, line);) {
        const auto event = nlohmann::json::parse(line, nullptr, false);
        if (event.is_discarded() || event.value("event", "") != "slot") continue;
        last[event["slot"]] = event.value("state", "") + (event["step"].is_string()
                                                              ? ": " + event["step"].get<std::string>()
                                                              : "");
    }
    std::string shown;
    for (const auto& [slot, state] : last) shown += "  " + slot + " " + state;
    return shown;
}

TEST(StationCrashTest, AKilledStationLeavesAJournalThatTellsTheTruth) {
    const char* repeated = std::getenv("STATION_CRASH_SEED");
    const unsigned seed = repeated != nullptr ? std::stoul(repeated) : std::random_device()();
    SCOPED_TRACE("seed " + std::to_string(seed) + " (STATION_CRASH_SEED=seed repeats it)");
    std::mt19937 random(seed);
    // One slice of the span per run, shuffled: every step gets its kills, in no fixed order.
    std::vector<int> slices(kRuns);
    std::iota(slices.begin(), slices.end(), 0);
    std::shuffle(slices.begin(), slices.end(), random);
    std::uniform_real_distribution<double> within(0, 1);

    const fs::path folder =
        fs::temp_directory_path() / ("station_crash_test-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const fs::path journal = folder / "journal.sqlite3", output = folder / "output";
    sim::SimulatedTransmitter devices[2];
    // A J sensor where the station writes a K: only a write that went through reads back right.
    std::array<std::uint8_t, 14> fresh = sim::Options{}.configuration;
    fresh[1] = 8;

    for (int run = 0; run < kRuns; ++run) {
        for (sim::SimulatedTransmitter& device : devices) {
            device.SetConfiguration(fresh);
            device.Lock();
            device.ClearRecords();
        }
        const std::string batch = "run-" + std::to_string(run);
        const std::chrono::duration<double> delay(
            kEarliest + (slices[run] + within(random)) * (kLatest - kEarliest) / kRuns);
        SCOPED_TRACE(batch + ", killed after " + std::to_string(delay.count()) + " s");
        const pid_t child = Launch(
            {"station", "--ports", devices[0].PortPath() + "," + devices[1].PortPath(), "--sensor",
             "K", "--upper", "300", "--lower", "-50", "--output", "4-20", "--fault", "high",
             "--compensation", "on", "--json", "--journal", journal, "--batch", batch},
            output);
        ASSERT_GT(child, 0);
        std::this_thread::sleep_for(delay);
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
            << "it ended before the kill, status " << status << ":\n"
            << Contents(output);
        std::cout << batch << " killed after " << delay.count() << " s:" << LastSteps(output)
                  << std::endl;
        // Bytes still in the pseudo-terminals reach the devices, and a frame cut short expires,
        // before their records are read and cleared.
        std::this_thread::sleep_for(300ms);

        EXPECT_EQ(Query(journal, "PRAGMA integrity_check"), Table{{"ok"}});
        const Table rows = Query(journal, "SELECT slot, verdict, as_left IS NOT NULL FROM units "
                                          "WHERE batch = '" + batch + "'");
        for (const sim::SimulatedTransmitter& device : devices) {
            const Heard heard = HeardBy(device);
            const std::string port = device.PortPath();
            // A stale lock of the run before would leave the port refused, and this run vacuous.
            if (delay > 1s) {
                EXPECT_TRUE(heard.anything) << port << "\n" << Contents(output);
            }
            const auto own = [&port](const auto& row) { return row[0] == port; };
            if (heard.written) {
                EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), own)) << port << " written";
            }
            for (const auto& row : rows) {
                if (own(row) && row[1] == "pass") {
                    EXPECT_TRUE(row[2] == "1" && heard.read_back) << port << " passed unverified";
                }
            }
        }
    }

    std::set<std::string> unfinished, shown;
    for (const auto& row : Query(journal, "SELECT id FROM units WHERE verdict IS NULL")) {
        unfinished.insert(row[0]);
    }
    const pid_t lister = Launch({"journal", "--journal", journal, "--json"}, output);
    int status = 0;
    ASSERT_EQ(::waitpid(lister, &status, 0), lister);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << Contents(output);
    std::istringstream lines(Contents(output));
    for (std::string line; std::getline(lines, line);) {
        const auto row = nlohmann::json::parse(line, nullptr, false);
        ASSERT_FALSE(row.is_discarded()) << line;
        if (row["verdict"] == "interrupted") shown.insert(row["id"].get<std::string>());
    }
    EXPECT_FALSE(unfinished.empty()) << "no kill landed within a unit";
    EXPECT_EQ(shown, unfinished);

    // Our own ports: the locks the last kill left would only wait for the next opening to go.
    for (const sim::SimulatedTransmitter& device : devices) {
        std::error_code ignored;
        fs::remove("/run/lock/LCK..pts_" + fs::path(device.PortPath()).filename().string(),
                   ignored);
    }
    fs::remove_all(folder);
}

}  // namespace
