#include "journal/journal.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <set>
#include <stdexcept>
#include <thread>

namespace {

namespace fs = std::filesystem;
using journal::Filter;
using journal::Journal;
using journal::UnitRow;

// Failures throw, so that a scenario stops at the first one with the journal's own reason.
std::unique_ptr<Journal> MustOpen(const std::string& path) {
    std::string error;
    auto opened = Journal::Open(path, error);
    if (!opened) throw std::runtime_error("Open: " + error);
    return opened;
}

UnitRow MustBegin(Journal& journal, UnitRow row) {
    std::string error;
    if (!journal.Begin(row, error)) throw std::runtime_error("Begin: " + error);
    return row;
}

UnitRow MustFinish(Journal& journal, UnitRow row, const std::string& verdict,
                   const std::string& finished_at = "") {
    row.verdict = verdict;
    row.finished_at = finished_at;
    std::string error;
    if (!journal.Finish(row, error)) throw std::runtime_error("Finish: " + error);
    return row;
}

std::vector<UnitRow> MustRead(Journal& journal, const Filter& filter = {}) {
    std::string error;
    auto rows = journal.Rows(filter, error);
    if (!error.empty()) throw std::runtime_error("Rows: " + error);
    return rows;
}

UnitRow NewUnit(const std::string& batch, const std::string& started_at = "") {
    UnitRow row;
    row.batch = batch;
    row.station = "bench-1.lab";
    row.slot = "left";
    row.operator_name = "Anna";
    row.profile = R"({"sensor":"K","range":[0,600]})";
    row.started_at = started_at;
    return row;
}

auto Columns(const UnitRow& r) {
    return std::tie(r.id, r.unit, r.batch, r.station, r.slot, r.operator_name, r.profile,
                    r.profile_sha256, r.started_at, r.finished_at, r.firmware, r.as_found,
                    r.as_left, r.cold_junction, r.verdict, r.error, r.tries);
}

// A row as another program writes it, with only the columns that must not be NULL.
const std::string kInsertUnit =
    "INSERT INTO units (id, unit, batch, station, slot, operator, profile, profile_sha256, "
    "started_at) SELECT column1, column2, '', '', '', '', '', '', '' FROM (VALUES ";

void Sql(const std::string& path, const char* sql) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    const int done = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    sqlite3_close(db);
    if (done != SQLITE_OK) throw std::runtime_error(std::string("sql failed: ") + sql);
}

std::vector<std::string> Units(const std::vector<UnitRow>& rows) {
    std::vector<std::string> units;
    for (const UnitRow& row : rows) units.push_back(row.unit);
    return units;
}

void BegunRowReadsAsInterruptedUntilFinished(const std::string& path) {
    auto journal = MustOpen(path);
    const UnitRow begun = MustBegin(*journal, NewUnit("B1"));
    EXPECT_TRUE(std::regex_match(begun.id, std::regex("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-"
                                                      "[89ab][0-9a-f]{3}-[0-9a-f]{12}")));
    EXPECT_TRUE(std::regex_match(begun.started_at,
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")));
    EXPECT_EQ(begun.profile_sha256, journal::Sha256Hex(begun.profile));
    EXPECT_EQ(journal::ShownVerdict(MustRead(*journal).at(0)), "interrupted");
    MustFinish(*journal, begun, "fail");
    EXPECT_EQ(journal::ShownVerdict(MustRead(*journal).at(0)), "fail");
    EXPECT_FALSE(MustRead(*journal).at(0).finished_at.empty());
}

void FinishedRowsReadBackWithEveryColumn(const std::string& path) {
    auto journal = MustOpen(path);
    UnitRow passed = MustBegin(*journal, NewUnit("B1"));
    passed.firmware = "1.0.3";
    passed.as_found = R"({"sensor":"J"})";
    passed.as_left = R"({"sensor":"K"})";
    passed.cold_junction = 21.3;
    passed.tries = 2;
    passed = MustFinish(*journal, passed, "pass", "2026-12-07T10:42:05.123Z");
    UnitRow failed = MustBegin(*journal, NewUnit("B1"));
    failed.error = "no answer from the transmitter";
    failed = MustFinish(*journal, failed, "fail");

    const auto rows = MustRead(*journal);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(Columns(rows[0]), Columns(passed));
    EXPECT_EQ(Columns(rows[1]), Columns(failed));
}

void FinishingAnUnknownUnitFails(const std::string& path) {
    auto journal = MustOpen(path);
    UnitRow stranger = NewUnit("B1");
    stranger.id = "not-begun";
    std::string error;
    EXPECT_FALSE(journal->Finish(stranger, error));
    EXPECT_NE(error.find("not-begun"), std::string::npos) << error;
}

// The zone local times are read in; empty: the system's own.
void SetZone(const std::string& zone) {
#ifdef _WIN32
    ::_putenv_s("TZ", zone.c_str());
    ::_tzset();
#else
    zone.empty() ? ::unsetenv("TZ") : ::setenv("TZ", zone.c_str(), 1);
    ::tzset();
#endif
}

void FiltersAndSummaryTakeBatchSinceAndVerdict(const std::string& path) {
    auto journal = MustOpen(path);
    // Batches in an order that is not alphabetical, as the summary keeps the order of appearance.
    MustFinish(*journal, MustBegin(*journal, NewUnit("Z-7", "2026-12-06T23:59:59.999Z")), "pass",
               "2026-12-07T00:05:00.000Z");
    MustFinish(*journal, MustBegin(*journal, NewUnit("A-1", "2026-12-07T00:00:00.000Z")), "fail",
               "2026-12-07T00:10:00.000Z");
    MustBegin(*journal, NewUnit("Z-7", "2026-12-07T10:42:05.123Z"));
    MustFinish(*journal, MustBegin(*journal, NewUnit("A-1", "2026-12-08T08:00:00.000Z")), "pass",
               "2026-12-08T08:05:00.000Z");

    // Three hours east of UTC, so that a local time and a UTC one read apart.
    const char* zone = std::getenv("TZ");
    const std::string kept = zone != nullptr ? zone : "";
    SetZone("UTC-3");
    const struct {
        Filter filter;
        std::vector<int> numbers;
    } cases[] = {
        // batch, since, verdict; the running numbers of the rows listed
        {{"", "", ""}, {1, 2, 3, 4}},
        {{"Z-7", "", ""}, {1, 3}},
        {{"", "2026-12-07", ""}, {1, 2, 3, 4}},
        {{"", "2026-12-07T03:00", ""}, {2, 3, 4}},
        {{"", "2026-12-07T10:42:05.123Z", ""}, {3, 4}},
        {{"", "2026-12-07T10:42:05Z", ""}, {3, 4}},
        {{"", "2026-12-07T11:42:05+01:00", ""}, {3, 4}},
        {{"", "2026-12-07T10:42:05.124z", ""}, {4}},
        {{"", "2026-12-07 13:43", ""}, {4}},
        {{"", "2026-12-07t10:43-0000", ""}, {4}},
        {{"", "", "interrupted"}, {3}},
        {{"", "", "pass"}, {1, 4}},
        {{"A-1", "", "fail"}, {2}},
        {{"A-1", "2026-12-08", "interrupted"}, {}},
    };
    for (const auto& [filter, numbers] : cases) {
        SCOPED_TRACE(filter.batch + " " + filter.since + " " + filter.verdict);
        std::vector<std::string> expected;
        for (int n : numbers) expected.push_back("BENCH1-000" + std::to_string(n));
        EXPECT_EQ(Units(MustRead(*journal, filter)), expected);
    }
    // Neither a date nor a time as ISO 8601 writes them, nor one that is not in the calendar.
    for (const char* wrong : {"yesterday", "2026-12-08T9:00", "2026-13-45", "2026-12-08T99",
                              "2026-02-29", "2026-12-08T24:00", "2026-12-08T10:00+25:00",
                              "2026-12-08Z", "2026-12-08T10:00:00.", "08.12.2026"}) {
        std::string error;
        EXPECT_TRUE(journal->Rows({"", wrong, ""}, error).empty());
        EXPECT_NE(error.find("--since"), std::string::npos) << wrong;
    }
    SetZone(kept);

    std::string error;
    const auto batches = journal->Summary({}, error);
    ASSERT_EQ(batches.size(), 2u) << error;
    EXPECT_EQ(batches[0].batch, "Z-7");
    EXPECT_EQ(
        std::tie(batches[0].units, batches[0].passed, batches[0].failed, batches[0].interrupted),
        std::make_tuple(2, 1, 0, 1));
    EXPECT_EQ(batches[0].first_started_at, "2026-12-06T23:59:59.999Z");
    EXPECT_EQ(batches[0].last_finished_at, "2026-12-07T00:05:00.000Z");
    EXPECT_EQ(std::tie(batches[1].batch, batches[1].units, batches[1].passed, batches[1].failed,
                       batches[1].interrupted, batches[1].last_finished_at),
              std::make_tuple("A-1", 2, 1, 1, 0, "2026-12-08T08:05:00.000Z"));

    EXPECT_TRUE(journal->Rows({"", "", "passed"}, error).empty());
    EXPECT_FALSE(error.empty());
}

void RunningNumbersContinuePerStationPrefix(const std::string& path) {
    const std::pair<std::string, std::string> begun[] = {
        {"bench-1.lab", "BENCH1-0001"},
        {"bench-1.lab", "BENCH1-0002"},
        {"qa", "QA-0001"},
        {"", "ST-0001"},
        {"st", "ST-0002"},
        {"sta", "STA-0001"},
        {"Prüfstand 7", "PRFSAND7-0001"},
        {"benchA1", "BENCHA1-0001"},
        {"benchA2", "BENCHA2-0001"},
        {"DESKTOP-4F7KQ2L", "DESKKQ2L-0001"},
        {"DESKTOP-9XJ3M0P", "DESK3M0P-0001"},
        {"Стенд-2", "STEND2-0001"},
        {"bench-1.lab", "BENCH1-0003"},
    };
    for (const auto& [station, unit] : begun) {
        UnitRow row = NewUnit("B1");
        row.station = station;
        EXPECT_EQ(MustBegin(*MustOpen(path), row).unit, unit) << station;
    }
    // A journal begun by an earlier program goes on with the prefix it gave.
    Sql(path, (kInsertUnit + "('y', 'BENCHA-0007')); UPDATE units SET station = 'bench-a3' "
                             "WHERE id = 'y'")
                  .c_str());
    UnitRow earlier = NewUnit("B1");
    earlier.station = "bench-a3";
    EXPECT_EQ(MustBegin(*MustOpen(path), earlier).unit, "BENCHA-0008");
    // 10000 sorts before 9999 as text; the numbers must be compared as numbers.
    Sql(path, (kInsertUnit + "('x', 'QA-9999'))").c_str());
    UnitRow row = NewUnit("B1");
    row.station = "qa";
    auto journal = MustOpen(path);
    EXPECT_EQ(MustBegin(*journal, row).unit, "QA-10000");
    EXPECT_EQ(MustBegin(*journal, row).unit, "QA-10001");
    // --unit-prefix, and the journal keeps it for the runs after.
    journal->UseUnitPrefix("L2");
    EXPECT_EQ(MustBegin(*journal, row).unit, "L2-0001");
    EXPECT_EQ(MustBegin(*MustOpen(path), row).unit, "L2-0002");
}

void TwoStationsOnOneFileTakeDistinctNumbers(const std::string& path) {
    // One host name for both, so that they draw from the same running numbers.
    std::vector<std::string> units[2];
    auto run = [&path](std::vector<std::string>& taken, std::string& failure) {
        try {
            auto journal = MustOpen(path);
            for (int i = 0; i < 50; ++i) taken.push_back(MustBegin(*journal, NewUnit("B1")).unit);
        } catch (const std::exception& error) {
            failure = error.what();
        }
    };
    std::string failures[2];
    std::thread first(run, std::ref(units[0]), std::ref(failures[0]));
    run(units[1], failures[1]);
    first.join();
    EXPECT_EQ(failures[0] + failures[1], "");
    std::set<std::string> distinct(units[0].begin(), units[0].end());
    distinct.insert(units[1].begin(), units[1].end());
    EXPECT_EQ(distinct.size(), 100u);
    EXPECT_EQ(*distinct.rbegin(), "BENCH1-0100");
}

void BeginWaitsForTheOtherStationsTransaction(const std::string& path) {
    auto journal = MustOpen(path);
    sqlite3* other = nullptr;
    sqlite3_open(path.c_str(), &other);
    const std::string held = "BEGIN IMMEDIATE; " + kInsertUnit + "('x', 'BENCH1-0001'))";
    ASSERT_EQ(sqlite3_exec(other, held.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    std::thread committer([other] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    });
    UnitRow row = NewUnit("B1");
    std::string error;
    const bool begun = journal->Begin(row, error);
    committer.join();
    sqlite3_close(other);
    EXPECT_TRUE(begun) << error;
    EXPECT_EQ(row.unit, "BENCH1-0002");
}

void UnusableJournalsAreRefusedWithTheReason(const std::string& path) {
    fs::create_directories(fs::path(path).parent_path());
    Sql(path + ".newer", "PRAGMA user_version = 4");
    std::ofstream(path + ".text") << "unit,verdict\r\n";
    const std::pair<std::string, const char*> refused[] = {
        {path + ".newer", "newer version"},
        {path + ".text", "not a database"},
        {path + ".text/journal.sqlite3", "cannot make the folder"},
        {"", "no journal"},
    };
    for (const auto& [file, reason] : refused) {
        std::string error;
        EXPECT_EQ(Journal::Open(file, error), nullptr) << file;
        EXPECT_NE(error.find(reason), std::string::npos) << error;
    }
}

void RowCompletedWhileOnTheWayKeepsWaiting(const std::string& path) {
    auto journal = MustOpen(path);
    const UnitRow first = MustBegin(*journal, NewUnit("B1"));
    MustBegin(*journal, NewUnit("B1"));
    const UnitRow stopped = MustBegin(*journal, NewUnit("B1"));
    std::string error;
    const std::vector<UnitRow> sent = journal->Waiting(10, error);
    ASSERT_EQ(Units(sent), Units(MustRead(*journal))) << error;
    MustFinish(*journal, first, "pass");
    // Ctrl+C: completed without a verdict.
    MustFinish(*journal, stopped, "");
    ASSERT_TRUE(journal->MarkForwarded(sent, error)) << error;
    const std::vector<UnitRow> left = journal->Waiting(10, error);
    ASSERT_EQ(Units(left), (std::vector<std::string>{first.unit, stopped.unit}));
    EXPECT_EQ(left[0].verdict, "pass");
    ASSERT_TRUE(journal->MarkForwarded(left, error)) << error;
    EXPECT_EQ(journal->CountWaiting(error), 0) << error;
}

void RowTheCentralJournalRefusedIsSetAsideUntilCompleted(const std::string& path) {
    auto journal = MustOpen(path);
    UnitRow refused = MustBegin(*journal, NewUnit("B1"));
    MustBegin(*journal, NewUnit("B1"));
    std::string error;
    std::vector<UnitRow> sent = journal->Waiting(10, error);
    sent[0].central_refusal = "invalid byte sequence for encoding \"UTF8\": 0xff";
    ASSERT_TRUE(journal->MarkForwarded(sent, error)) << error;
    EXPECT_EQ(journal->CountWaiting(error), 0) << error;
    EXPECT_EQ(journal->CountWaiting(error, true), 1) << error;
    const std::vector<UnitRow> aside = MustRead(*journal, {"", "", "", true});
    ASSERT_EQ(Units(aside), std::vector<std::string>{refused.unit});
    EXPECT_EQ(aside[0].central_refusal, sent[0].central_refusal);
    MustFinish(*journal, refused, "pass");
    EXPECT_EQ(Units(journal->Waiting(10, error)), std::vector<std::string>{refused.unit});
    EXPECT_EQ(journal->CountWaiting(error, true), 0) << error;
}

void MergingTwiceAddsOnceAndReplacesOnlyWithMoreKnown(const std::string& path) {
    auto journal = MustOpen(path);
    UnitRow running = MustBegin(*journal, NewUnit("B1"));
    UnitRow failed = MustFinish(*journal, MustBegin(*journal, NewUnit("B1")), "fail");
    UnitRow begun = MustBegin(*journal, NewUnit("B1"));
    UnitRow stopped = MustFinish(*journal, MustBegin(*journal, NewUnit("B1")), "");
    UnitRow stranger = running;  // another station's unit, still running there
    stranger.id = "0d6f2a4e-0000-4000-8000-000000000001";
    stranger.unit = "OTHER-0001";
    running.verdict = failed.verdict = "pass";
    // Interrupted there: an end time and the step, no verdict.
    begun.finished_at = "2026-12-07T10:42:05.123Z";
    begun.error = "stopped during write";
    // Older than what is here: it knew no end yet.
    UnitRow stale = stopped;
    stale.finished_at.clear();
    for (const int expected : {3, 0}) {
        int changed = -1;
        std::string error;
        ASSERT_TRUE(journal->Merge({running, failed, begun, stale, stranger}, changed, error))
            << error;
        EXPECT_EQ(changed, expected);
    }
    std::vector<std::string> shown;
    for (const UnitRow& row : MustRead(*journal)) {
        shown.push_back(journal::ShownVerdict(row) + (row.finished_at.empty() ? "" : " ended") +
                        (row.error.empty() ? "" : ": " + row.error));
    }
    EXPECT_EQ(shown, (std::vector<std::string>{"pass", "fail ended",
                                               "interrupted ended: stopped "
                                               "during write",
                                               "interrupted ended", "interrupted"}));
}

void FirstVersionJournalIsReadAsItIsAndTakenUpWithEveryRowWaiting(const std::string& path) {
    MustOpen(path);
    Sql(path, ("DROP INDEX units_forwarded_at; ALTER TABLE units DROP COLUMN forwarded_at; "
               "ALTER TABLE units DROP COLUMN central_refusal; "
               "PRAGMA user_version = 1; " +
               kInsertUnit + "('a', 'OLD-0001'))")
                  .c_str());
    std::vector<UnitRow> rows;
    std::string error;
    ASSERT_TRUE(journal::ReadJournalFile(path, rows, error)) << error;
    EXPECT_EQ(Units(rows), std::vector<std::string>{"OLD-0001"});
    auto journal = MustOpen(path);
    EXPECT_EQ(journal->CountWaiting(error), 1) << error;
}

// Every byte of the file and whether SQLite's -wal and -shm files lie beside it.
std::string Snapshot(const std::string& path) {
    std::string bytes;
    if (fs::is_regular_file(path)) {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return bytes + (fs::exists(path + "-wal") ? "+wal" : "") +
           (fs::exists(path + "-shm") ? "+shm" : "");
}

void ListingChangesNothingAndRefusesWhatIsNoJournal(const std::string& path) {
    MustBegin(*MustOpen(path), NewUnit("B1"));
    // Read-only, as on read-only media or in another user's journal.
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read);
    Sql(path + ".foreign", "CREATE TABLE t (x); PRAGMA journal_mode = WAL");
    std::ofstream(path + ".empty").close();
    const std::pair<std::string, const char*> files[] = {
        {path, ""},
        {path + ".foreign", "not a journal"},
        {path + ".empty", "not a journal"},
        {path + ".none", "no such file"},
        {fs::path(path).parent_path().string(), "not a file"},
    };
    for (const auto& [file, reason] : files) {
        SCOPED_TRACE(file);
        const std::string before = Snapshot(file);
        std::string error;
        std::vector<UnitRow> rows;
        const bool read = journal::ReadJournalFile(file, rows, error);
        EXPECT_EQ(read, *reason == '\0');
        EXPECT_NE(error.find(reason), std::string::npos) << error;
        if (auto journal = Journal::OpenToRead(file, error)) {
            EXPECT_EQ(MustRead(*journal).size(), 1u);
        }
        EXPECT_EQ(Snapshot(file), before);
        EXPECT_EQ(rows.size(), read ? 1u : 0u);
    }
    EXPECT_FALSE(fs::exists(path + ".none"));
}

void NewJournalIsForItsUserAlone(const std::string& path) {
#ifdef _WIN32
    // Windows keeps no such mode bits: the folder under %LOCALAPPDATA% is the user's already.
    GTEST_SKIP() << "no POSIX file modes on Windows";
#endif
    auto journal = MustOpen(path);
    MustBegin(*journal, NewUnit("B1"));
    const auto mode = [](const std::string& file) {
        struct stat status {};
        ::stat(file.c_str(), &status);
        return status.st_mode & 0777;
    };
    EXPECT_EQ(mode(fs::path(path).parent_path().string()), 0700u);
    for (const char* suffix : {"", "-wal", "-shm"}) EXPECT_EQ(mode(path + suffix), 0600u) << suffix;
}

void BusyWaitEndsSoonAfterAStop(const std::string& path) {
    std::atomic<int> stop{0};
    std::string error;
    auto journal = Journal::Open(path, error, &stop);
    ASSERT_TRUE(journal) << error;
    sqlite3* other = nullptr;
    sqlite3_open(path.c_str(), &other);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    std::thread ctrl_c([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        stop = 2;
    });
    UnitRow row = NewUnit("B1");
    // The other transaction is held until Begin gives up, which without the stop takes 10 s.
    const auto began = std::chrono::steady_clock::now();
    EXPECT_FALSE(journal->Begin(row, error));
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(5));
    ctrl_c.join();
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_NE(error.find("locked"), std::string::npos) << error;
}

struct Scenario {
    const char* sentence;
    void (*run)(const std::string& path);
};

const Scenario kScenarios[] = {
    {"a begun row reads as interrupted until it is finished",
     BegunRowReadsAsInterruptedUntilFinished},
    {"finished rows read back with every column", FinishedRowsReadBackWithEveryColumn},
    {"finishing a unit that was never begun fails", FinishingAnUnknownUnitFails},
    {"the list and the summary filter by batch, since and verdict",
     FiltersAndSummaryTakeBatchSinceAndVerdict},
    {"running numbers continue per station prefix across reopenings",
     RunningNumbersContinuePerStationPrefix},
    {"two stations on one file take distinct numbers", TwoStationsOnOneFileTakeDistinctNumbers},
    {"a unit begun while the other station writes waits and takes the next number",
     BeginWaitsForTheOtherStationsTransaction},
    {"unusable journals are refused with the reason", UnusableJournalsAreRefusedWithTheReason},
    {"a row completed while its earlier state was on the way keeps waiting",
     RowCompletedWhileOnTheWayKeepsWaiting},
    {"merging twice adds once and replaces a row only with one that knows more",
     MergingTwiceAddsOnceAndReplacesOnlyWithMoreKnown},
    {"a row the central journal refused is set aside until it is completed",
     RowTheCentralJournalRefusedIsSetAsideUntilCompleted},
    {"listing opens a file read-only, changes nothing and refuses what is no journal",
     ListingChangesNothingAndRefusesWhatIsNoJournal},
    {"a new journal and its folder are for its user alone", NewJournalIsForItsUserAlone},
    {"the wait for another station's transaction ends soon after a stop",
     BusyWaitEndsSoonAfterAStop},
    {"a first version's journal is read as it is and taken up with every row waiting",
     FirstVersionJournalIsReadAsItIsAndTakenUpWithEveryRowWaiting},
};

void PrintTo(const Scenario& scenario, std::ostream* out) {
    *out << scenario.sentence;
}

class JournalScenario : public ::testing::TestWithParam<Scenario> {
  protected:
    void SetUp() override {
        folder_ =
            fs::temp_directory_path() / ("journal_test-" + std::to_string(std::random_device()()));
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
    fs::path folder_;
};

TEST_P(JournalScenario, Holds) {
    // A folder that does not exist yet, for Open to make.
    GetParam().run((folder_ / "station" / "journal.sqlite3").string());
}

INSTANTIATE_TEST_SUITE_P(Journal, JournalScenario, ::testing::ValuesIn(kScenarios),
                         [](const auto& info) {
                             std::string name;
                             bool upper = true;
                             for (const char* c = info.param.sentence; *c != '\0'; ++c) {
                                 if (!std::isalnum(static_cast<unsigned char>(*c))) {
                                     upper = true;
                                 } else {
                                     name += upper ? static_cast<char>(std::toupper(*c)) : *c;
                                     upper = false;
                                 }
                             }
                             return name;
                         });

TEST(RowsAsCsv, QuotesFieldsWithACommaAQuoteOrALineEndAndLeavesNullEmpty) {
    UnitRow row;
    row.id = "1";
    row.unit = "QA-0001";
    row.profile = "{\"a\":1,\"b\":2}";
    row.cold_junction = 21.3;
    row.error = "said \"no\"\nthen nothing";
    row.tries = 3;
    EXPECT_EQ(journal::RowsAsCsv({row}),
              "id,unit,batch,station,slot,operator,profile,profile_sha256,started_at,"
              "finished_at,firmware,as_found,as_left,cold_junction,verdict,error,tries\r\n"
              "1,QA-0001,,,,,\"{\"\"a\"\":1,\"\"b\"\":2}\",,,,,,,21.3,interrupted,"
              "\"said \"\"no\"\"\nthen nothing\",3\r\n");
}

TEST(RowsAsCsv, ShowsFormulasAsTextAndForeignBytesAsReplacementCharacters) {
    UnitRow row;
    row.operator_name = "=HYPERLINK(\"http://evil\",\"x\")";
    row.batch = "@SUM(1+1)";
    row.station = "\tplus";
    row.slot = "-1";
    row.firmware = "+1";
    row.error = "\xCF\xF0\xEE\xE1\xE0 \xD0\x9A";  // CP1251 "Проба", then a Cyrillic K
    row.cold_junction = -5.2;
    row.tries = 1;
    const std::string csv = journal::RowsAsCsv({row});
    EXPECT_EQ(csv.substr(csv.find("\r\n") + 2),
              ",,'@SUM(1+1),'\tplus,'-1,\"'=HYPERLINK(\"\"http://evil\"\",\"\"x\"\")\",,,,,'+1,,,"
              "-5.2,interrupted,\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD "
              "\xD0\x9A,1\r\n");
}

TEST(Sha256Hex, MatchesThePublishedVectors) {
    const std::pair<std::string_view, std::string_view> vectors[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        // 56 bytes: the length no longer fits the last block, so padding takes a second one.
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    };
    for (const auto& [bytes, digest] : vectors) EXPECT_EQ(journal::Sha256Hex(bytes), digest);
}

}  // namespace

