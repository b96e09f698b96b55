// station-bench [PROBE_SECONDS]: transmitter-cli station against simulated transmitters inside
// this process, each figure beside its target: one unit alone (T1), 8 and 32 slots with a unit
// in each from the start, the station's processor time while 32 empty slots probe for
// PROBE_SECONDS (default 60), its peak memory, and the slowest journal commit with 32 slots
// writing at once. RUNS (default 3) runs of each timed case; the median is judged. Then the
// operator page (--http): 8 slots with 20 viewers reading /events against none, the time from
// an event on the station's standard output to the same event at a viewer, and what 20 idle
// viewers cost in processor time and memory.
// A benchmark, not a test: it fails when a run fails, never on a figure.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <barrier>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "journal/journal.h"
#include "sim/simulated_transmitter.h"
#include "tests/support/label_printer.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

constexpr int kSlots = 32;
constexpr int kJournalRowsPerThread = 20;

struct Finished {
    double last_unit_seconds = 0;  // from the start to the last unit's end
    int passed = 0;
    double cpu_seconds = 0, wall_seconds = 0;
    double peak_mb = 0;
    std::vector<double> page_delays_ms;  // each slot event, standard output to each viewer
};

// An event told apart from the others of its slot by its order: "slot /dev/pts/3 running write#2".
using Arrivals = std::vector<std::pair<std::string, Clock::time_point>>;
void Note(Arrivals& arrivals, std::map<std::string, int>& seen, const nlohmann::json& event) {
    if (event.value("event", "") != "slot") return;
    const std::string key = event.value("slot", "") + " " + event.value("state", "") + " " +
                            (event["step"].is_string() ? event["step"].get<std::string>() : "");
    arrivals.emplace_back(key + "#" + std::to_string(++seen[key]), Clock::now());
}

// A page open on /events: what it receives, as it comes, until the station closes the stream.
class Viewer {
  public:
    explicit Viewer(int port) : thread_([this, port] { Read(port); }) {}
    ~Viewer() {
        if (thread_.joinable()) thread_.join();
    }
    // Once the station has closed the stream.
    Arrivals Finish() {
        thread_.join();
        return std::move(arrivals_);
    }

  private:
    void Read(int port) {
        int fd = -1;
        for (int tries = 0; tries < 500 && fd < 0; ++tries) {
            fd = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(static_cast<std::uint16_t>(port));
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
                ::close(fd);
                fd = -1;
                std::this_thread::sleep_for(20ms);
            }
        }
        if (fd < 0) return;
        const std::string request = "GET /events HTTP/1.1\r\nHost: bench\r\n\r\n";
        if (::write(fd, request.data(), request.size()) < 0) return;
        std::map<std::string, int> seen;
        std::string pending;
        char chunk[65536];
        for (ssize_t n; (n = ::read(fd, chunk, sizeof chunk)) > 0;) {
            pending.append(chunk, static_cast<std::size_t>(n));
            for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
                const std::string line = pending.substr(0, end);
                pending.erase(0, end + 1);
                if (line.rfind("data: ", 0) != 0) continue;
                Note(arrivals_, seen, nlohmann::json::parse(line.substr(6), nullptr, false));
            }
        }
        ::close(fd);
    }
    Arrivals arrivals_;
    std::thread thread_;
};

// Runs the station on `ports` until `count` units have ended or, with no count, for `probing`
// and then Ctrl+C; reads its events as they come.
Finished RunStation(const std::vector<std::string>& ports, int count, Seconds probing,
                    const fs::path& journal, const std::string& batch, int viewers = -1) {
    std::string list;
    for (const std::string& port : ports) list += (list.empty() ? "" : ",") + port;
    std::vector<std::string> words{TRANSMITTER_CLI,
                                   "station",
                                   "--ports",
                                   list,
                                   "--sensor",
                                   "K",
                                   "--upper",
                                   "300",
                                   "--lower",
                                   "-50",
                                   "--output",
                                   "4-20",
                                   "--fault",
                                   "high",
                                   "--compensation",
                                   "on",
                                   "--json",
                                   "--journal",
                                   journal.string(),
                                   "--batch",
                                   batch};
    if (count > 0) words.insert(words.end(), {"--count", std::to_string(count)});
    const int port = viewers >= 0 ? FreeLoopbackPort() : 0;
    if (viewers >= 0) words.insert(words.end(), {"--http", std::to_string(port)});
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    int pipe_ends[2];
    if (::pipe2(pipe_ends, O_CLOEXEC) != 0) throw std::runtime_error("no pipe");

    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipe_ends[1], STDOUT_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipe_ends[1]);
    if (pid < 0) throw std::runtime_error("no fork");
    std::vector<std::unique_ptr<Viewer>> pages;
    for (int i = 0; i < viewers; ++i) pages.push_back(std::make_unique<Viewer>(port));
    Arrivals printed;
    std::map<std::string, int> seen;

    Finished finished;
    int ended = 0;
    bool interrupted = false;
    std::string pending;
    for (;;) {
        if (count == 0 && !interrupted && Clock::now() - start >= probing) {
            ::kill(pid, SIGINT);
            interrupted = true;
        }
        pollfd wait{pipe_ends[0], POLLIN, 0};
        if (::poll(&wait, 1, 100) <= 0) continue;
        char chunk[65536];
        const ssize_t n = ::read(pipe_ends[0], chunk, sizeof chunk);
        if (n <= 0) break;
        pending.append(chunk, static_cast<std::size_t>(n));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            const auto event = nlohmann::json::parse(pending.substr(0, end), nullptr, false);
            pending.erase(0, end + 1);
            if (!event.is_discarded()) Note(printed, seen, event);
            if (event.is_discarded() || event.value("event", "") != "unit ended") continue;
            ++ended;
            finished.last_unit_seconds = Seconds(Clock::now() - start).count();
            if (event["record"]["verdict"] == "pass") ++finished.passed;
        }
    }
    ::close(pipe_ends[0]);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    finished.wall_seconds = Seconds(Clock::now() - start).count();
    const auto seconds = [](timeval time) { return time.tv_sec + time.tv_usec / 1e6; };
    finished.cpu_seconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    finished.peak_mb = usage.ru_maxrss / 1024.0;
    std::map<std::string, Clock::time_point> when(printed.begin(), printed.end());
    for (std::unique_ptr<Viewer>& page : pages) {
        for (const auto& [key, at] : page->Finish()) {
            const auto printed_at = when.find(key);
            if (printed_at == when.end()) continue;
            finished.page_delays_ms.push_back(
                std::chrono::duration<double, std::milli>(at - printed_at->second).count());
        }
    }
    if (!WIFEXITED(status) || ended < count) {
        throw std::runtime_error(batch + ": the station ended with status " +
                                 std::to_string(status) + " after " + std::to_string(ended) +
                                 " units");
    }
    return finished;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void Line(const std::string& what, const std::string& figure, const std::string& target,
          const char* verdict) {
    std::printf("%-44s %-34s %-14s %s\n", what.c_str(), figure.c_str(), target.c_str(), verdict);
}

const char* Met(bool met) {
    return met ? "met" : "MISSED";
}

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// 32 slots beginning and finishing rows on one journal at once, as the station's threads do;
// the slowest call of each kind, in milliseconds.
std::pair<double, double> SlowestCommits(const fs::path& path) {
    std::string error;
    const std::unique_ptr<journal::Journal> journal = journal::Journal::Open(path, error);
    if (!journal) throw std::runtime_error("journal: " + error);
    std::vector<double> begins(kSlots), finishes(kSlots);
    std::barrier together(kSlots);
    std::mutex failures_mutex;
    std::string failures;
    std::vector<std::thread> threads;
    for (int slot = 0; slot < kSlots; ++slot) {
        threads.emplace_back([&, slot] {
            std::mt19937 random(static_cast<unsigned>(slot));
            for (int i = 0; i < kJournalRowsPerThread; ++i) {
                journal::UnitRow row;
                row.batch = "bench-journal";
                row.station = "bench";
                row.slot = "slot " + std::to_string(slot);
                row.operator_name = "bench";
                row.profile = R"({"sensor":"K","upper":300,"lower":-50})";
                std::string failure;
                together.arrive_and_wait();
                auto start = Clock::now();
                bool done = journal->Begin(row, failure);
                begins[slot] = std::max(begins[slot], Seconds(Clock::now() - start).count());
                std::this_thread::sleep_for(std::chrono::milliseconds(random() % 20));
                row.verdict = "pass";
                start = Clock::now();
                done = done && journal->Finish(row, failure);
                finishes[slot] = std::max(finishes[slot], Seconds(Clock::now() - start).count());
                if (!done) {
                    // Out of the later rounds, so that the others do not wait for it.
                    together.arrive_and_drop();
                    const std::lock_guard lock(failures_mutex);
                    failures = failure;
                    return;
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    if (!failures.empty()) throw std::runtime_error("journal: " + failures);
    return {*std::max_element(begins.begin(), begins.end()) * 1000,
            *std::max_element(finishes.begin(), finishes.end()) * 1000};
}

}  // namespace

int main(int argc, char** argv) {
    const Seconds probing(argc > 1 ? std::atof(argv[1]) : 60.0);
    const int runs = std::max(1, std::getenv("RUNS") ? std::atoi(std::getenv("RUNS")) : 3);
    char folder_template[] = "/tmp/station-bench.XXXXXX";
    const fs::path folder = ::mkdtemp(folder_template);
    const fs::path journal = folder / "journal.sqlite3";
    std::vector<std::unique_ptr<sim::SimulatedTransmitter>> devices;
    for (int i = 0; i < kSlots; ++i) {
        devices.push_back(std::make_unique<sim::SimulatedTransmitter>());
        if (!devices.back()->IsRunning()) return std::fprintf(stderr, "no pseudo-terminal\n"), 1;
    }
    // A unit in each of the first `units` slots, fresh, the rest empty.
    const auto slots = [&](int count, int units) {
        std::array<std::uint8_t, 14> fresh = sim::Options{}.configuration;
        fresh[1] = 8;
        std::vector<std::string> ports;
        for (int i = 0; i < count; ++i) {
            devices[i]->TakeOut();
            devices[i]->SetConfiguration(fresh);
            devices[i]->ClearRecords();
            if (i < units) devices[i]->PutIn();
            ports.push_back(devices[i]->PortPath());
        }
        return ports;
    };

    try {
        std::printf(
            "station-bench: %d runs of each timed case (median judged, worst beside it); "
            "journal in %s\n\n",
            runs, folder.c_str());
        std::vector<double> alone, eight, thirty_two;
        double peak_units = 0;
        int batch = 0;
        for (int run = 0; run < runs; ++run) {
            const auto timed = [&](int count, std::vector<double>& into) {
                const Finished done = RunStation(slots(count, count), count, {}, journal,
                                                 "bench-" + std::to_string(++batch));
                if (done.passed != count) throw std::runtime_error("a unit did not pass");
                into.push_back(done.last_unit_seconds);
                return done;
            };
            timed(1, alone);
            timed(8, eight);
            peak_units = std::max(peak_units, timed(kSlots, thirty_two).peak_mb);
        }
        const double t1 = Median(alone);
        const auto worst = [](const std::vector<double>& values) {
            return *std::max_element(values.begin(), values.end());
        };
        Line("T1: one unit alone, start to its end",
             Format("%.3f s", t1) + Format(" (worst %.3f)", worst(alone)), "", "");
        Line("8 slots, 8 units: all ended",
             Format("%.3f s = ", Median(eight)) + Format("%.2f x T1", Median(eight) / t1) +
                 Format(" (worst %.3f)", worst(eight)),
             "<= 1.2 x T1", Met(Median(eight) <= 1.2 * t1));
        Line("32 slots, 32 units: all ended",
             Format("%.3f s = ", Median(thirty_two)) +
                 Format("%.2f x T1", Median(thirty_two) / t1) +
                 Format(" (worst %.3f)", worst(thirty_two)),
             "<= 1.5 x T1", Met(Median(thirty_two) <= 1.5 * t1));

        const Finished idle = RunStation(slots(kSlots, 0), 0, probing, journal, "bench-idle");
        const double share = idle.cpu_seconds / idle.wall_seconds * 100;
        Line(Format("CPU, 32 empty slots probing %.0f s", probing.count()),
             Format("%.2f %% of one core", share) + Format(" (%.2f s)", idle.cpu_seconds), "<= 3 %",
             Met(share <= 3));
        Line("Peak memory, 32 slots with units (maxrss)", Format("%.1f MiB", peak_units),
             "<= 25 MB", Met(peak_units <= 25));
        Line("Peak memory, 32 slots probing (maxrss)", Format("%.1f MiB", idle.peak_mb), "<= 25 MB",
             Met(idle.peak_mb <= 25));

        // The page: the same 8 units with 20 viewers and with none, and 8 empty slots idle.
        constexpr int kViewers = 20;
        std::vector<double> unseen, seen, delays;
        for (int run = 0; run < runs; ++run) {
            for (const int viewers : {0, kViewers}) {
                const Finished done = RunStation(slots(8, 8), 8, {}, journal,
                                                 "bench-" + std::to_string(++batch), viewers);
                if (done.passed != 8) throw std::runtime_error("a unit did not pass");
                (viewers ? seen : unseen).push_back(done.last_unit_seconds);
                delays.insert(delays.end(), done.page_delays_ms.begin(),
                              done.page_delays_ms.end());
            }
        }
        Line("8 slots, 8 units, 20 viewers: all ended",
             Format("%.3f s = ", Median(seen)) + Format("%.3f x none", Median(seen) / Median(unseen)),
             "<= 1.02 x", Met(Median(seen) <= 1.02 * Median(unseen)));
        std::sort(delays.begin(), delays.end());
        const double p99 = delays.empty() ? 1e9 : delays[delays.size() * 99 / 100];
        Line("Event to viewer, 99th percentile",
             Format("%.1f ms", p99) + Format(" (%.0f events)", static_cast<double>(delays.size())),
             "<= 250 ms", Met(p99 <= 250));
        const Finished quiet = RunStation(slots(8, 0), 0, probing, journal, "bench-quiet", 0);
        const Finished watched =
            RunStation(slots(8, 0), 0, probing, journal, "bench-watched", kViewers);
        const double cost = (watched.cpu_seconds / watched.wall_seconds -
                             quiet.cpu_seconds / quiet.wall_seconds) * 100;
        Line(Format("CPU of 20 idle viewers, %.0f s", probing.count()),
             Format("%.2f %% of one core", cost), "<= 1 %", Met(cost <= 1));
        Line("Memory of 20 idle viewers (maxrss)", Format("%.1f MiB", watched.peak_mb - quiet.peak_mb),
             "<= 10 MB", Met(watched.peak_mb - quiet.peak_mb <= 10));

        const auto [begin, finish] = SlowestCommits(folder / "commits.sqlite3");
        const std::string rows = std::to_string(kSlots) + " threads x " +
                                 std::to_string(kJournalRowsPerThread) + " rows";
        Line("Slowest journal Begin, " + rows, Format("%.1f ms", begin), "(none given)", "");
        Line("Slowest journal Finish, " + rows, Format("%.1f ms", finish), "(none given)", "");
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "station-bench: %s\n", failure.what());
        fs::remove_all(folder);
        return 1;
    }
    fs::remove_all(folder);
    return 0;
}
