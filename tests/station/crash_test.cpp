// The station killed outright, again and again on one journal file: what it leaves must be a
// sound database in which no written unit goes unrecorded and no unit passes without the
// read-back that proves its write, and ports that the next station can open.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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

// A unit is done about 2.6 s after the station starts, so timed kills in this span land in
// probing, in each step of the unit and after its verdict. The moment that matters most, the
// write frame landing (its row must be committed by then), is too short to hit by chance: in
// the aimed runs the device kills the station as it hears that frame.
constexpr int kTimedRuns = 12, kAimedRuns = 2;
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

// What a transmitter made of the line in one run, in the order it heard it.
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

// A device that kills the process in `aimed` (once) when it hears a configuration written.
sim::Options Aiming(std::atomic<pid_t>& aimed) {
    sim::Options options;
    options.on_message = [&aimed](const sim::TraceEntry& entry) {
        if (entry.received.size() == 14 && entry.received[0] == 0x44) {
            if (const pid_t pid = aimed.exchange(0); pid > 0) ::kill(pid, SIGKILL);
        }
    };
    return options;
}

class StationCrashTest : public ::testing::Test {
  protected:
    StationCrashTest() {
        for (const sim::SimulatedTransmitter& device : devices_) {
            held_.push_back(
                ::open(device.PortPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        }
        fs::create_directories(folder_);
    }
    ~StationCrashTest() override {
        for (const int fd : held_) ::close(fd);
        // Left behind, a lock of these terminals would refuse whichever test gets them next.
        for (const sim::SimulatedTransmitter& device : devices_) {
            fs::remove(LockOf(device), ignored_);
        }
        fs::remove_all(folder_, ignored_);
    }
    static fs::path LockOf(const sim::SimulatedTransmitter& device) {
        return "/run/lock/LCK..pts_" + fs::path(device.PortPath()).filename().string();
    }

    std::atomic<pid_t> aimed_{0};
    sim::SimulatedTransmitter devices_[2] = {sim::SimulatedTransmitter(Aiming(aimed_)),
                                             sim::SimulatedTransmitter()};
    // A real port's exclusive mode goes with its last close. These terminals never close (each
    // device holds its end), so what a killed station left on is cleared, as the kernel would.
    std::vector<int> held_;
    const fs::path folder_ =
        fs::temp_directory_path() / ("station_crash_test-" + std::to_string(::getpid()));
    std::error_code ignored_;
};

TEST_F(StationCrashTest, LeavesAJournalThatTellsTheTruthAndPortsThatOpen) {
    const char* repeated = std::getenv("STATION_CRASH_SEED");
    const unsigned seed = repeated != nullptr ? std::stoul(repeated) : std::random_device()();
    SCOPED_TRACE("seed " + std::to_string(seed) + " (STATION_CRASH_SEED=seed repeats it)");
    std::mt19937 random(seed);
    // One slice of the span per timed run, the aimed runs among them, in a shuffled order.
    std::vector<int> slices(kTimedRuns + kAimedRuns);
    std::iota(slices.begin(), slices.end(), 0);
    std::shuffle(slices.begin(), slices.end(), random);
    std::uniform_real_distribution<double> within(0, 1);
    const fs::path journal = folder_ / "journal.sqlite3", output = folder_ / "output";
    // A J sensor where the station writes a K: only a write that went through reads back right.
    std::array<std::uint8_t, 14> fresh = sim::Options{}.configuration;
    fresh[1] = 8;

    for (int run = 0; run < kTimedRuns + kAimedRuns; ++run) {
        for (sim::SimulatedTransmitter& device : devices_) {
            device.SetConfiguration(fresh);
            device.Lock();
            device.ClearRecords();
        }
        const std::string batch = "run-" + std::to_string(run);
        const bool aiming = slices[run] >= kTimedRuns;
        const double slice = (kLatest - kEarliest) / kTimedRuns;
        const std::chrono::duration<double> delay(
            aiming ? kLatest : kEarliest + (slices[run] + within(random)) * slice);
        SCOPED_TRACE(batch + " killed " +
                     (aiming ? "as its write landed" : "after " + std::to_string(delay.count())));
        const std::string ports = devices_[0].PortPath() + "," + devices_[1].PortPath();
        const pid_t child = Launch(
            {"station", "--ports", ports,       "--sensor", "K",       "--upper", "300",
             "--lower", "-50",     "--output",  "4-20",     "--fault", "high",    "--compensation",
             "on",      "--json",  "--journal", journal,    "--batch", batch},
            output);
        ASSERT_GT(child, 0);
        if (aiming) aimed_ = child;
        const auto deadline = std::chrono::steady_clock::now() + delay;
        int status = 0;
        pid_t reaped = 0;
        while ((reaped = ::waitpid(child, &status, WNOHANG)) == 0 &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(1ms);
        }
        if (reaped == 0) ::kill(child, SIGKILL);
        ASSERT_EQ(reaped == 0 ? ::waitpid(child, &status, 0) : reaped, child);
        aimed_ = 0;
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << Contents(output);
        for (const int fd : held_) ::ioctl(fd, TIOCNXCL);
        // Bytes still in the terminals reach the devices, and a frame cut short expires, before
        // their records are read and cleared.
        std::this_thread::sleep_for(300ms);

        EXPECT_EQ(Query(journal, "PRAGMA integrity_check"), Table{{"ok"}});
        const std::string of_batch = " FROM units WHERE batch = '" + batch + "'";
        const Table rows = Query(journal, "SELECT slot, verdict, as_left IS NOT NULL" + of_batch);
        if (aiming) {
            EXPECT_TRUE(HeardBy(devices_[0]).written) << "the aim missed";
        }
        for (const sim::SimulatedTransmitter& device : devices_) {
            const Heard heard = HeardBy(device);
            const std::string port = device.PortPath();
            // Refused after the run before, the port would make this run prove nothing.
            if (delay > 1s) {
                EXPECT_TRUE(heard.anything) << port << " unused:\n" << Contents(output);
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
            // An empty lock file says nothing of its holder, so every later opening is refused.
            if (fs::exists(LockOf(device)) && fs::file_size(LockOf(device)) == 0) {
                ADD_FAILURE() << "the killed station left " << LockOf(device)
                              << " empty, which refuses the port until someone deletes it";
                fs::remove(LockOf(device));
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
}

}  // namespace
