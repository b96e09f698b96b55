// Stations forwarding to one central journal on a throwaway PostgreSQL server, which
// pg_virtualenv starts for this test and the test stops and starts: whatever happens to the
// server or to a station, every unit the stations commit reaches the central journal once, as
// it stands in the station's own journal, and a station that cannot reach the server goes on.
// With CENTRAL_TEST_WINDOWS_CLI naming transmitter-cli.exe, the stations are that program under
// Wine, on COM ports mapped to the fixtures, and every station reaches the server over TLS.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "journal/journal.h"
#include "journal/unit_fields.h"
#include "sim/simulated_transmitter.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Rows = std::multiset<std::string>;  // "id station slot verdict", one per unit

enum class Trouble {
    kNone,
    kServerStopped,
    kStationKilled,
    kImportedTwice,
    kNoLogin,
    kNoServer,
    kRefusedRow,   // the journal holds a row from elsewhere whose operator is no UTF-8
    kInterrupted,  // Ctrl+C while a unit's begun row is in the central journal
    kPrefixHeld,   // another station numbers its units with this one's prefix
    kTls, kTlsOtherName, kTlsOtherCa,  // the station asks for sslmode=verify-full
};

struct Scenario {
    const char* name;
    int stations;  // processes, two slots each
    int units;     // per slot
    Trouble trouble;
    const char* reason;  // what the stations say of a server they cannot use
};
using Clock = std::chrono::steady_clock;

const Scenario kScenarios[] = {
    {"TwoStationsForwardEveryUnitOnce", 2, 2, Trouble::kNone, ""},
    {"ServerStoppedMidBatchGetsEveryUnitOnceWhenBack", 1, 3, Trouble::kServerStopped, ""},
    {"StationKilledWhileForwardingLosesAndDoublesNothing", 1, 1, Trouble::kStationKilled, ""},
    {"JournalImportedTwiceIsThereOnce", 1, 1, Trouble::kImportedTwice, ""},
    {"WrongPasswordLeavesTheStationWorkingLocally", 1, 1, Trouble::kNoLogin,
     "password authentication failed for user"},
    {"UnreachableServerLeavesTheStationWorkingLocally", 1, 1, Trouble::kNoServer,
     "Connection refused"},
    {"RowTheServerRefusesIsSetAsideAndEveryOtherGoes", 1, 1, Trouble::kRefusedRow, ""},
    {"UnitInterruptedByCtrlCIsCompletedCentrally", 1, 2, Trouble::kInterrupted, ""},
    {"StationWhosePrefixAnotherHoldsIsToldAndForwards", 1, 1, Trouble::kPrefixHeld, ""},
    {"VerifyFullReachesTheServerThePlantsCaSigned", 1, 1, Trouble::kTls, ""},
    {"VerifyFullRefusesACertificateForAnotherName", 1, 1, Trouble::kTlsOtherName,
     "does not match host name"},
    {"VerifyFullRefusesACertificateFromAnotherCa", 1, 1, Trouble::kTlsOtherCa,
     "certificate verify failed"},
};
const char* const kWindowsCli = std::getenv("CENTRAL_TEST_WINDOWS_CLI");

void PrintTo(const Scenario& scenario, std::ostream* out) {
    *out << scenario.name;
}

// What a command printed, standard error included.
std::string Shell(const std::string& command) {
    std::string output;
    if (FILE* pipe = ::popen(("(" + command + ") 2>&1").c_str(), "r")) {
        char chunk[4096];
        for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
            output.append(chunk, n);
        ::pclose(pipe);
    }
    return output;
}

std::string Cli(const std::string& arguments) {
    return Shell((kWindowsCli ? "wine " + std::string(kWindowsCli) : TRANSMITTER_CLI) + " " +
                 arguments);
}

// As the server's administrator (pg_virtualenv's login).
std::string Psql(const std::string& database, const std::string& sql) {
    return Shell("psql -XAtq -d " + database + " -c \"" + sql + "\"");
}

int ExitCode(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

Rows Lines(const std::string& text) {
    Rows lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.insert(line);
    return lines;
}

// The local journal as anyone with the sqlite3 shell reads it.
std::string Sqlite(const fs::path& file, const std::string& sql) {
    return Shell("sqlite3 -readonly -cmd '.timeout 5000' " + file.string() + " \"" + sql + "\"");
}

constexpr const char* kRowText =
    "SELECT id || ' ' || station || ' ' || slot || ' ' || coalesce(verdict, '-') || ' ' || "
    "CASE WHEN finished_at IS NULL THEN 'running' ELSE 'ended' END || ' ' || "
    "coalesce(error, '-') FROM units";

// Said once, and every case is skipped: a missing server must not pass as a working journal.
class NeedsServer : public ::testing::Environment {
    void SetUp() override {
        if (std::getenv("PGPORT") == nullptr) {
            GTEST_SKIP() << "no PostgreSQL server: install Debian's postgresql (make test does) "
                            "and run this test under pg_virtualenv";
        }
    }
};
::testing::Environment* const kNeedsServer = ::testing::AddGlobalTestEnvironment(new NeedsServer);

// A station PC: fixtures with their units, and its own journal.
struct Station {
    explicit Station(int slots) {
        for (int i = 0; i < slots; ++i) {
            held.push_back(::open(fixtures.emplace_back().PortPath().c_str(),
                                  O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
            slot_names.push_back(fixtures.back().PortPath());
        }
        swapped.resize(fixtures.size());
        out_since.resize(fixtures.size());
    }
    ~Station() {
        for (const int fd : held) ::close(fd);
    }
    // A real port's exclusive mode goes with its last close; these terminals never close, so
    // what a killed station left on is cleared as the kernel would.
    void ClearExclusiveMode() {
        for (const int fd : held) ::ioctl(fd, TIOCNXCL);
    }
    // Before the station makes the journal, sqlite3 says why it cannot open it: none ended.
    int Ended(const std::string& slot = "%") const {
        const std::string sql = "SELECT count(*) FROM units WHERE verdict IS NOT NULL AND slot";
        return std::atoi(Sqlite(journal, sql + " LIKE '" + slot + "'").c_str());
    }
    // A unit that has its verdict is taken out of its fixture, and a while later (the station
    // must see the fixture empty) another is put in.
    void SwapUnits() {
        for (std::size_t slot = 0; slot < fixtures.size(); ++slot) {
            if (out_since[slot] && Clock::now() - *out_since[slot] > 2500ms) {
                fixtures[slot].PutIn();
                out_since[slot].reset();
            } else if (!out_since[slot] && Ended(slot_names[slot]) > swapped[slot]) {
                fixtures[slot].TakeOut();
                out_since[slot] = Clock::now();
                ++swapped[slot];
            }
        }
    }

    std::deque<sim::SimulatedTransmitter> fixtures;
    std::vector<int> held;
    std::vector<std::string> slot_names;  // as the station names them
    fs::path journal, output;
    pid_t pid = 0;
    std::vector<int> swapped;
    std::vector<std::optional<Clock::time_point>> out_since;
};

class CentralFixture : public ::testing::Test {
  protected:
    // A database of its own, its tables made by the administrator's first listing, and the
    // README's grants to the stations' login.
    void Prepare(const std::string& name) {
        for (const char c : name) {
            database_ += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        fs::create_directories(folder_);
        Psql("postgres", "CREATE ROLE station LOGIN PASSWORD 'station-pw'");
        Psql("postgres", "CREATE DATABASE " + database_);
        const std::string listed = Cli("journal --central dbname=" + database_);
        ASSERT_EQ(listed.rfind("UNIT", 0), 0u) << listed;
        Psql(database_, "GRANT SELECT, INSERT, UPDATE ON units TO station");
        Psql(database_, "GRANT SELECT ON schema_version TO station");
        Psql(database_, "GRANT SELECT, INSERT ON prefixes TO station");
        if (kWindowsCli || std::getenv("CENTRAL_TEST_TLS")) ServeTls(Trouble::kTls);
    }
    // The plant's CA, made here, and the server's certificate: for this host and from that CA,
    // for another name, or from another CA.
    void ServeTls(Trouble trouble) {
        const fs::path tls = folder_ / database_;
        fs::create_directories(tls);
        const std::string name = trouble == Trouble::kTlsOtherName ? "central.example" : "localhost";
        const std::string ca = trouble == Trouble::kTlsOtherCa ? "other" : "plant";
        const std::string make = "cd " + tls.string() +
                                 " && openssl req -x509 -newkey ec -pkeyopt "
                                 "ec_paramgen_curve:P-256 -nodes -days 2 ";
        for (const std::string issuer : {"plant", "other"})
            Shell(make + "-subj /CN=" + issuer + " -keyout " + issuer + ".key -out " + issuer + ".crt");
        Shell(make + "-subj /CN=" + name + " -addext basicConstraints=CA:FALSE -addext " +
              "subjectAltName=DNS:" + name + " -CA " + ca + ".crt -CAkey " + ca + ".key " +
              "-keyout server.key -out server.crt && chmod 600 server.key && chown " +
              "--reference=\"$(psql -XAtc 'SHOW data_directory')\" server.key server.crt");
        Psql("postgres", "ALTER SYSTEM SET ssl_cert_file = '" + (tls / "server.crt").string() + "'");
        Psql("postgres", "ALTER SYSTEM SET ssl_key_file = '" + (tls / "server.key").string() + "'");
        Psql("postgres", "ALTER SYSTEM SET ssl = on");
        Psql("postgres", "SELECT pg_reload_conf()");
        while (Psql("postgres", "SHOW ssl_key_file") != (tls / "server.key").string() + "\n")
            std::this_thread::sleep_for(100ms);
        tls_ = " host=localhost sslmode=verify-full sslrootcert=" + (tls / "plant.crt").string();
    }
    void TearDown() override {
        done_ = true;
        if (swapper_.joinable()) swapper_.join();
        stations_.clear();
        if (!tls_.empty()) {
            Psql("postgres", "ALTER SYSTEM RESET ALL");
            Psql("postgres", "SELECT pg_reload_conf()");
        }
        fs::remove_all(folder_);
    }

    // All before the first starts: the swapping goes through them from then on.
    Station& AddStation(int slots) {
        Station& station = stations_.emplace_back(slots);
        const std::string number = std::to_string(stations_.size());
        station.journal = folder_ / ("journal-" + number + ".sqlite3");
        station.output = folder_ / ("station-" + number);
        return station;
    }
    // Forwarding as the stations' login, unless the trouble leaves nothing to forward to.
    void Start(Station& station, int count, Trouble trouble = Trouble::kNone) {
        std::vector<std::string> words{
            "station", "--ports",   "--sensor", "K",
            "--upper", "300",       "--lower",      "-50",      "--output",
            "4-20",    "--fault",   "high",         "--json",   "--compensation",
            "on",      "--journal", station.journal};
        if (count > 0) words.insert(words.end(), {"--count", std::to_string(count)});
        const bool away = trouble == Trouble::kNoServer;
        if (trouble != Trouble::kImportedTwice) {
            words.insert(words.end(), {"--central", "dbname=" + database_ +
                                                        (away ? " port=1" : " user=station") + tls_});
        }
        if (!swapper_.joinable() && kWindowsCli) MapComPorts();
        std::string ports;
        for (const std::string& slot : station.slot_names) ports += (ports.empty() ? "" : ",") + slot;
        words.insert(words.begin() + 2, ports);
        words.insert(words.begin(), kWindowsCli ? kWindowsCli : TRANSMITTER_CLI);
        if (kWindowsCli) words.insert(words.begin(), "wine");
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        const int out =
            ::open(station.output.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if ((station.pid = ::fork()) == 0) {
            ::dup2(out, STDOUT_FILENO);
            ::dup2(out, STDERR_FILENO);
            ::setenv("PGPASSWORD", trouble == Trouble::kNoLogin ? "wrong" : "station-pw", 1);
            ::execvp(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(out);
        if (!swapper_.joinable()) {
            swapper_ = std::thread([this] {
                for (; !done_; std::this_thread::sleep_for(100ms)) {
                    for (Station& each : stations_) each.SwapUnits();
                }
            });
        }
    }
    // Wine makes its COM devices when it starts, from the ports its registry lists.
    void MapComPorts() {
        std::string ports = "Windows Registry Editor Version 5.00\n\n"
                            "[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n";
        int number = 0;
        for (Station& station : stations_) {
            for (std::string& slot : station.slot_names) {
                ports += "\"COM" + std::to_string(++number) + "\"=\"" + slot + "\"\n";
                slot = "COM" + std::to_string(number);
            }
        }
        Shell("printf '%s' '" + ports + "' >" + (folder_ / "ports.reg").string() + " && wine reg " +
              "import Z:" + (folder_ / "ports.reg").string() + " && wineserver -k; wineserver -w");
    }
    void WaitForEnded(int units) const {
        for (int sum = 0; sum < units; std::this_thread::sleep_for(100ms)) {
            sum = 0;
            for (const Station& station : stations_) sum += station.Ended();
        }
    }

    const fs::path folder_ =
        fs::temp_directory_path() / ("central_test-" + std::to_string(::getpid()));
    std::string database_;
    std::string tls_;  // what a station's URL adds for TLS
    std::deque<Station> stations_;
    std::atomic<bool> done_{false};
    std::thread swapper_;
};

class CentralJournal : public CentralFixture, public ::testing::WithParamInterface<Scenario> {
  protected:
    void SetUp() override { Prepare(GetParam().name); }
};

TEST_P(CentralJournal, HoldsEveryCommittedUnitOnce) {
    const Scenario& scenario = GetParam();
    const int per_station = 2 * scenario.units;
    for (int i = 0; i < scenario.stations; ++i) AddStation(2);
    if (scenario.trouble >= Trouble::kTls) ServeTls(scenario.trouble);
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    std::string error;
    journal::UnitRow foreign;
    if (scenario.trouble == Trouble::kRefusedRow) {
        // Typed in a CP1251 terminal by an earlier program, and imported.
        auto local = journal::Journal::Open(stations_[0].journal, error);
        ASSERT_TRUE(local) << error;
        foreign.batch = "B";
        foreign.station = host;
        foreign.slot = "left";
        foreign.operator_name = "\xC0\xED\xED\xE0";
        foreign.profile = "{}";
        ASSERT_TRUE(local->Begin(foreign, error)) << error;
    }
    if (scenario.trouble == Trouble::kPrefixHeld) {
        Psql(database_, "INSERT INTO prefixes VALUES ('" + journal::UnitPrefix(host) +
                            "', 'bench-elsewhere')");
    }
    const bool interrupted = scenario.trouble == Trouble::kInterrupted;
    for (Station& station : stations_) {
        Start(station, interrupted ? 0 : per_station, scenario.trouble);
    }
    if (interrupted) {
        // Its begun row went; Ctrl+C then completes it without a verdict.
        WaitForEnded(1);
        const auto deadline = Clock::now() + 60s;
        while (Psql(database_, "SELECT count(*) FROM units WHERE finished_at IS NULL") == "0\n") {
            ASSERT_LT(Clock::now(), deadline) << Shell("cat " + stations_[0].output.string());
            std::this_thread::sleep_for(20ms);
        }
        ::kill(stations_[0].pid, SIGINT);
    }
    if (scenario.trouble == Trouble::kServerStopped) {
        WaitForEnded(1);
        Shell("pg_ctlcluster \"$PGVERSION\" regress stop -m immediate");
        WaitForEnded(3);
        Shell("pg_ctlcluster \"$PGVERSION\" regress start");
    }
    if (scenario.trouble == Trouble::kStationKilled) {
        // The central table locked, the forwarder waits in its INSERT when the station dies.
        std::thread locker([&] { Psql(database_, "LOCK TABLE units; SELECT pg_sleep(8)"); });
        WaitForEnded(1);
        std::string waiting;
        for (int i = 0; i < 50 && waiting != "1\n"; ++i, std::this_thread::sleep_for(100ms)) {
            waiting = Psql(database_,
                           "SELECT count(*) FROM pg_stat_activity WHERE "
                           "application_name = 'transmitter-cli' AND "
                           "wait_event_type = 'Lock'");
        }
        EXPECT_EQ(waiting, "1\n");
        ::kill(stations_[0].pid, SIGKILL);
        EXPECT_EQ(ExitCode(stations_[0].pid), 128 + SIGKILL);
        stations_[0].ClearExclusiveMode();
        locker.join();
        Start(stations_[0], per_station);
    }
    Rows local;
    for (Station& station : stations_) {
        EXPECT_EQ(ExitCode(station.pid), 0) << Shell("cat " + station.output.string());
        local.merge(Lines(Sqlite(station.journal, kRowText)));
    }
    const std::string output = Shell("cat " + stations_[0].output.string());
    for (const char* changed : {"2", "0"}) {
        if (scenario.trouble != Trouble::kImportedTwice) break;
        const std::string file = stations_[0].journal.string();
        EXPECT_EQ(
            Cli("journal --central dbname=" + database_ + " --import " + file),
            file + ": 2 units, " + changed + " added or completed\n");
    }
    if (scenario.trouble == Trouble::kRefusedRow) {
        // Counted, with the server's reason; listed as set aside; every other row went.
        EXPECT_NE(output.find("\"set_aside\":1,\"refusal\":\"invalid byte sequence"),
                  std::string::npos)
            << output;
        const std::string aside = Shell(TRANSMITTER_CLI " journal --set-aside --journal " +
                                        stations_[0].journal.string());
        EXPECT_NE(aside.find(foreign.unit + " "), std::string::npos) << aside;
        EXPECT_NE(aside.find("invalid byte sequence"), std::string::npos) << aside;
        EXPECT_EQ(local.erase(foreign.id + " " + host + " left - running -"), 1u);
    }
    if (scenario.trouble == Trouble::kPrefixHeld) {
        EXPECT_NE(output.find("\"warning\":\"the unit prefix " + journal::UnitPrefix(host) +
                              " is held by station bench-elsewhere"),
                  std::string::npos)
            << output;
    }
    if (!interrupted) {
        EXPECT_EQ(local.size(),
                  static_cast<std::size_t>(scenario.stations *
                                           (scenario.trouble == Trouble::kStationKilled ? 2 : 1) *
                                           per_station));
    }
    if (*scenario.reason == '\0') {
        EXPECT_EQ(Lines(Psql(database_, kRowText)), local);
        if (scenario.trouble == Trouble::kImportedTwice) return;
        // The link as the station found it (TLS only where the case serves it), and the rows
        // read back through the program: a header line, then the units.
        const std::string link = tls_.empty() ? "\"encrypted\":false,\"verified\":false"
                                              : "\"encrypted\":true,\"verified\":true";
        EXPECT_NE(output.find("\"reachable\":true," + link), std::string::npos) << output;
        const std::string listed = Cli("journal --central 'dbname=" + database_ + tls_ + "'");
        EXPECT_EQ(Lines(listed).size(), local.size() + 1) << listed;
        // Wine names its computer after its own fashion; the rest is the Linux program's.
        if (kWindowsCli) return;
        EXPECT_EQ(listed.rfind("UNIT", 0), 0u);
        EXPECT_NE(listed.find(std::string("  ") + host + "  "), std::string::npos) << listed;
        // A time with an offset, the second unit's start, picks the same rows there as here.
        const fs::path& file = stations_[0].journal;
        const std::string second = "(SELECT started_at FROM units ORDER BY 1 LIMIT 1, 1)";
        std::string since = Sqlite(file, "SELECT " + second);
        since = " --json --since " + since.substr(0, since.find('Z')) + "+00:00";
        const Rows here =
            Lines(Shell(TRANSMITTER_CLI " journal --journal " + file.string() + since));
        EXPECT_EQ(std::to_string(here.size()) + "\n",
                  Sqlite(file, "SELECT count(*) FROM units WHERE started_at >= " + second));
        if (scenario.stations == 1) {
            EXPECT_EQ(
                Lines(Shell(TRANSMITTER_CLI " journal --central dbname=" + database_ + since)),
                here);
        }
        return;
    }
    EXPECT_EQ(Psql(database_, kRowText), "");
    EXPECT_NE(output.find("\"reachable\":false"), std::string::npos) << output;
    EXPECT_NE(output.find(scenario.reason), std::string::npos) << output;
    EXPECT_NE(output.find("\"central_waiting\":" + std::to_string(per_station)), std::string::npos)
        << output;
}

INSTANTIATE_TEST_SUITE_P(Scenarios, CentralJournal, ::testing::ValuesIn(kScenarios),
                         [](const auto& info) { return std::string(info.param.name); });

// make bench-central, not a test: 8 slots forwarding for BENCH_SECONDS (default 60), the time
// from each unit's local commit to its central row, after a catch-up of 20,000 rows that an
// outage left waiting in the station's journal. Each figure beside its target; fails only when
// a run does.
TEST_F(CentralFixture, DISABLED_BenchLatencyAndCatchUp) {
    Prepare("bench");
    Station& station = AddStation(8);
    std::string error;
    ASSERT_TRUE(journal::Journal::Open(station.journal, error)) << error;
    Shell("sqlite3 " + station.journal.string() +
          " \"WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20000) "
          "INSERT INTO units (id, unit, batch, station, slot, operator, profile, profile_sha256, "
          "started_at, finished_at, verdict) SELECT printf('00000000-0000-4000-8000-%012d', i), "
          "'OUT-' || i, 'outage', 'bench', 'bench', 'bench', '{}', '', "
          "strftime('%Y-%m-%dT%H:%M:%fZ'), strftime('%Y-%m-%dT%H:%M:%fZ'), 'pass' FROM n\"");
    Start(station, 0);
    const char* seconds = std::getenv("BENCH_SECONDS");
    std::this_thread::sleep_for(std::chrono::seconds(seconds ? std::atoi(seconds) : 60));
    // The figures are the server's; a console-less program under Wine may never see a SIGINT.
    ::kill(station.pid, kWindowsCli ? SIGKILL : SIGINT);
    ExitCode(station.pid);
    std::printf("%s", Psql(database_,
                           "SELECT 'catch-up after an outage: ' || count(*) || ' rows, ' || "
                           "round(count(*) / extract(epoch FROM max(received_at) - "
                           "min(received_at))) || ' rows/s (target >= 500)' FROM units "
                           "WHERE batch = 'outage'; SELECT 'commit to central row, ' || "
                           "count(*) || ' units: median ' || round(percentile_cont(0.5) WITHIN "
                           "GROUP (ORDER BY s)::numeric, 3) || ' s, p99 ' || "
                           "round(percentile_cont(0.99) WITHIN GROUP (ORDER BY s)::numeric, 3) "
                           "|| ' s (target p99 <= 1 s)' FROM (SELECT extract(epoch FROM "
                           "received_at - finished_at) AS s FROM units WHERE batch <> 'outage' "
                           "AND verdict IS NOT NULL) AS latency")
                          .c_str());
}

}  // namespace
