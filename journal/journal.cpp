#include "journal/journal.h"

#include <sqlite3.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <mutex>
#include <thread>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include "journal/filter.h"
#include "journal/journal_path.h"
#include "journal/unit_fields.h"

namespace journal {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSchemaVersion = 3;
constexpr std::chrono::milliseconds kBusyTimeout{10000};
// Once the program is told to end, the other station's transaction is waited for this long
// more: enough for one of its commits, so that the units in progress are still recorded.
constexpr std::chrono::milliseconds kBusyAfterStop{1000};

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS units (
    id TEXT PRIMARY KEY,
    unit TEXT NOT NULL UNIQUE,
    batch TEXT NOT NULL,
    station TEXT NOT NULL,
    slot TEXT NOT NULL,
    operator TEXT NOT NULL,
    profile TEXT NOT NULL,
    profile_sha256 TEXT NOT NULL,
    started_at TEXT NOT NULL,
    finished_at TEXT,
    firmware TEXT,
    as_found TEXT,
    as_left TEXT,
    cold_junction REAL,
    verdict TEXT CHECK (verdict IN ('pass', 'fail')),
    error TEXT,
    tries INTEGER NOT NULL DEFAULT 0,
    forwarded_at TEXT,
    central_refusal TEXT
);
CREATE INDEX IF NOT EXISTS units_started_at ON units (started_at);
CREATE INDEX IF NOT EXISTS units_batch ON units (batch);
CREATE INDEX IF NOT EXISTS units_forwarded_at ON units (forwarded_at);
)sql";

// The first journals had no note of forwarding: every row of theirs is still to be forwarded.
constexpr const char* kFromVersion1 = R"sql(
ALTER TABLE units ADD COLUMN forwarded_at TEXT;
CREATE INDEX IF NOT EXISTS units_forwarded_at ON units (forwarded_at);
)sql";

// Nothing was set aside before the central journal could refuse a row for what it holds.
constexpr const char* kFromVersion2 = R"sql(
ALTER TABLE units ADD COLUMN central_refusal TEXT;
)sql";

// A row that knows more replaces one that knows less, and never the other way round: each of
// these is kept once known.
constexpr const char* kKnowsMore =
    "(units.finished_at IS NULL OR excluded.finished_at IS NOT NULL) AND "
    "(units.verdict IS NULL OR excluded.verdict IS NOT NULL) AND "
    "(units.error IS NULL OR excluded.error IS NOT NULL) AND "
    "(units.as_found IS NULL OR excluded.as_found IS NOT NULL) AND "
    "(units.as_left IS NULL OR excluded.as_left IS NOT NULL) AND "
    "((units.finished_at IS NULL AND excluded.finished_at IS NOT NULL) OR "
    "(units.verdict IS NULL AND excluded.verdict IS NOT NULL) OR "
    "(units.error IS NULL AND excluded.error IS NOT NULL) OR "
    "(units.as_found IS NULL AND excluded.as_found IS NOT NULL) OR "
    "(units.as_left IS NULL AND excluded.as_left IS NOT NULL))";

// Waits out another connection's transaction: up to kBusyTimeout, and no more than
// kBusyAfterStop once `abandon` is set (Ctrl+C).
struct BusyWait {
    const std::atomic<int>* abandon = nullptr;
    Clock::time_point began, stop_seen;
    bool stopped = false;
};

int WaitWhileBusy(void* context, int count) {
    auto& wait = *static_cast<BusyWait*>(context);
    const auto now = Clock::now();
    if (count == 0) {
        wait.began = now;
        wait.stopped = false;
    }
    if (!wait.stopped && wait.abandon != nullptr && wait.abandon->load() != 0) {
        wait.stopped = true;
        wait.stop_seen = now;
    }
    if (now - wait.began >= kBusyTimeout ||
        (wait.stopped && now - wait.stop_seen >= kBusyAfterStop)) {
        return 0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(count < 10 ? 1 : 10));
    return 1;
}

struct Finalize {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, Finalize>;

bool Failed(sqlite3* db, std::string& error) {
    error = sqlite3_errmsg(db);
    return false;
}

Statement Prepare(sqlite3* db, const std::string& sql, std::string& error) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        Failed(db, error);
    }
    return Statement(statement);
}

bool Execute(sqlite3* db, const char* sql, std::string& error) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    error = message != nullptr ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    return false;
}

// Steps a statement that answers with one row and reads its first column as text; SQLite's
// result code when it fails.
int SingleText(sqlite3* db, const char* sql, std::string& text, std::string& error) {
    const Statement statement = Prepare(db, sql, error);
    if (!statement) return sqlite3_errcode(db);
    if (const int stepped = sqlite3_step(statement.get()); stepped != SQLITE_ROW) {
        Failed(db, error);
        return stepped;
    }
    const auto* value = sqlite3_column_text(statement.get(), 0);
    text = value != nullptr ? reinterpret_cast<const char*>(value) : "";
    return SQLITE_OK;
}

int BindText(sqlite3_stmt* statement, int index, const std::string& text) {
    return sqlite3_bind_text64(statement, index, text.data(), text.size(), SQLITE_STATIC,
                               SQLITE_UTF8);
}

int BindNullable(sqlite3_stmt* statement, int index, const std::string& text) {
    return text.empty() ? sqlite3_bind_null(statement, index) : BindText(statement, index, text);
}

// Binds ?1 to ?17 to the columns in table order, so that a statement takes the ones it names.
bool BindRow(sqlite3* db, sqlite3_stmt* statement, const UnitRow& row, std::string& error) {
    const std::string* required[] = {&row.id,      &row.unit,           &row.batch,
                                     &row.station, &row.slot,           &row.operator_name,
                                     &row.profile, &row.profile_sha256, &row.started_at};
    const std::string* optional[] = {&row.finished_at, &row.firmware, &row.as_found, &row.as_left};
    int index = 0;
    bool bound = true;
    for (const std::string* text : required) {
        bound = bound && BindText(statement, ++index, *text) == SQLITE_OK;
    }
    for (const std::string* text : optional) {
        bound = bound && BindNullable(statement, ++index, *text) == SQLITE_OK;
    }
    bound = bound && (row.cold_junction ? sqlite3_bind_double(statement, 14, *row.cold_junction)
                                        : sqlite3_bind_null(statement, 14)) == SQLITE_OK;
    bound = bound && BindNullable(statement, 15, row.verdict) == SQLITE_OK &&
            BindNullable(statement, 16, row.error) == SQLITE_OK &&
            sqlite3_bind_int(statement, 17, row.tries) == SQLITE_OK;
    return bound || Failed(db, error);
}

std::string ColumnText(sqlite3_stmt* statement, int column) {
    const auto* text = sqlite3_column_text(statement, column);
    if (text == nullptr) return {};
    return std::string(reinterpret_cast<const char*>(text),
                       static_cast<std::size_t>(sqlite3_column_bytes(statement, column)));
}

UnitRow ReadRow(sqlite3_stmt* statement) {
    UnitRow row;
    std::string* texts[] = {&row.id,         &row.unit,          &row.batch,    &row.station,
                            &row.slot,       &row.operator_name, &row.profile,  &row.profile_sha256,
                            &row.started_at, &row.finished_at,   &row.firmware, &row.as_found,
                            &row.as_left};
    int column = 0;
    for (std::string* text : texts) *text = ColumnText(statement, column++);
    if (sqlite3_column_type(statement, 13) != SQLITE_NULL) {
        row.cold_junction = sqlite3_column_double(statement, 13);
    }
    row.verdict = ColumnText(statement, 14);
    row.error = ColumnText(statement, 15);
    row.tries = sqlite3_column_int(statement, 16);
    return row;
}

std::string ColumnList() {
    std::string list;
    for (const std::string& name : ColumnNames()) list += (list.empty() ? "" : ", ") + name;
    return list;
}

// A row in table order, ?1 to ?17 as BindRow binds them.
std::string InsertRow() {
    return "INSERT INTO units (" + ColumnList() +
           ") VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17)";
}

// Steps the statement to its end, every row read as a unit's.
bool StepRows(sqlite3* db, sqlite3_stmt* statement, std::vector<UnitRow>& rows,
              std::string& error) {
    int stepped;
    while ((stepped = sqlite3_step(statement)) == SQLITE_ROW) rows.push_back(ReadRow(statement));
    return stepped == SQLITE_DONE || Failed(db, error);
}

// The WHERE clause of a filter, with named parameters that BindFilter fills in.
void WhereClause(const Filter& filter, std::string& where) {
    const auto add = [&where](const char* condition) {
        where += where.empty() ? " WHERE " : " AND ";
        where += condition;
    };
    if (!filter.batch.empty()) add("batch = :batch");
    if (!filter.since.empty()) add("started_at >= :since");
    if (filter.set_aside) add("central_refusal IS NOT NULL");
    if (filter.verdict == "interrupted") {
        add("verdict IS NULL");
    } else if (!filter.verdict.empty()) {
        add("verdict = :verdict");
    }
}

bool BindFilter(sqlite3* db, sqlite3_stmt* statement, const Filter& filter,
                const std::string& since, std::string& error) {
    const std::pair<const char*, const std::string*> parameters[] = {
        {":batch", &filter.batch}, {":since", &since}, {":verdict", &filter.verdict}};
    for (const auto& [name, value] : parameters) {
        const int index = sqlite3_bind_parameter_index(statement, name);
        if (index != 0 && BindText(statement, index, *value) != SQLITE_OK) return Failed(db, error);
    }
    return true;
}

// Runs `sql` (which ends where a WHERE clause may follow, then `tail`) for a filter, handing
// each row to `take`.
template <typename Take>
bool Query(sqlite3* db, const std::string& sql, const char* tail, const Filter& filter,
           std::string& error, Take take) {
    std::string since;
    std::string where;
    if (!CheckedFilter(filter, since, error)) return false;
    WhereClause(filter, where);
    const Statement statement = Prepare(db, sql + where + tail, error);
    if (!statement || !BindFilter(db, statement.get(), filter, since, error)) return false;
    int stepped;
    while ((stepped = sqlite3_step(statement.get())) == SQLITE_ROW) take(statement.get());
    return stepped == SQLITE_DONE || Failed(db, error);
}

bool KnownSchema(sqlite3* db, int& version, std::string& error) {
    std::string text;
    if (SingleText(db, "PRAGMA user_version", text, error) != SQLITE_OK) return false;
    version = std::stoi(text);
    if (version <= kSchemaVersion) return true;
    error = "it was written by a newer version of this program (its schema is " + text +
            ", this program knows " + std::to_string(kSchemaVersion) + ")";
    return false;
}

bool CreateSchema(sqlite3* db, std::string& error) {
    int version = 0;
    if (!KnownSchema(db, version, error)) return false;
    if (version == kSchemaVersion) return true;
    const bool made = version == 0 ? Execute(db, kSchema, error)
                                   : (version > 1 || Execute(db, kFromVersion1, error)) &&
                                         Execute(db, kFromVersion2, error);
    return made &&
           Execute(db, ("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str(), error);
}

bool Configure(sqlite3* db, BusyWait& busy, std::string& error) {
    // Waits out the other station's transaction instead of failing at once.
    sqlite3_busy_handler(db, WaitWhileBusy, &busy);
    // Before anything changes, so that a newer program's journal is left as that program made it.
    int version = 0;
    if (!KnownSchema(db, version, error)) return false;
    // Switching a new file to WAL takes it whole, and when the other station opens it at the
    // same moment SQLite answers "busy" at once, without asking the busy handler.
    const auto deadline = std::chrono::steady_clock::now() + kBusyTimeout;
    std::string mode;
    int switched;
    while ((switched = SingleText(db, "PRAGMA journal_mode=WAL", mode, error)) != SQLITE_OK) {
        if (switched != SQLITE_BUSY || std::chrono::steady_clock::now() > deadline ||
            (busy.abandon != nullptr && busy.abandon->load() != 0)) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (mode != "wal") {
        error = "it cannot use write-ahead logging (journal mode \"" + mode + "\")";
        return false;
    }
    if (!Execute(db, "PRAGMA synchronous=FULL", error)) return false;
    // Immediate, so that two programs creating the journal at once do it one after the other.
    return Execute(db, "BEGIN IMMEDIATE", error) && CreateSchema(db, error) &&
           Execute(db, "COMMIT", error);
}

bool LastNumber(sqlite3* db, const std::string& prefix, std::int64_t& last, std::string& error) {
    // The unit text from "PFX-" up to "PFX." is every unit that starts with "PFX-", which keeps
    // the lookup on the index of the unique column.
    const Statement statement = Prepare(
        db,
        "SELECT MAX(CAST(substr(unit, ?3) AS INTEGER)) FROM units WHERE unit >= ?1 AND unit < ?2",
        error);
    if (!statement) return false;
    std::string upper = prefix;
    upper.back() = '-' + 1;
    if (BindText(statement.get(), 1, prefix) != SQLITE_OK ||
        BindText(statement.get(), 2, upper) != SQLITE_OK ||
        sqlite3_bind_int64(statement.get(), 3, static_cast<std::int64_t>(prefix.size()) + 1) !=
            SQLITE_OK ||
        sqlite3_step(statement.get()) != SQLITE_ROW) {
        return Failed(db, error);
    }
    last = sqlite3_column_int64(statement.get(), 0);
    return true;
}

// The prefix a station numbers its units with in this journal: the one it took last, so that a
// journal keeps numbering as it began even where a newer program would choose another, else a
// new one made from the host name.
bool PrefixOf(sqlite3* db, const std::string& station, std::string& prefix, std::string& error) {
    const Statement statement =
        Prepare(db, "SELECT unit FROM units WHERE station = ?1 ORDER BY rowid DESC LIMIT 1", error);
    if (!statement || BindText(statement.get(), 1, station) != SQLITE_OK) return Failed(db, error);
    const int stepped = sqlite3_step(statement.get());
    if (stepped != SQLITE_ROW && stepped != SQLITE_DONE) return Failed(db, error);
    const std::string last = stepped == SQLITE_ROW ? ColumnText(statement.get(), 0) : "";
    const std::size_t dash = last.rfind('-');
    prefix = dash != std::string::npos && dash > 0 ? last.substr(0, dash) : UnitPrefix(station);
    return true;
}

bool Insert(sqlite3* db, UnitRow& row, const std::string& chosen, std::string& error) {
    std::string prefix = chosen;
    if (prefix.empty() && !PrefixOf(db, row.station, prefix, error)) return false;
    prefix += "-";
    std::int64_t last = 0;
    if (!LastNumber(db, prefix, last, error)) return false;
    if (last == std::numeric_limits<std::int64_t>::max()) {
        error = "the running numbers of " + prefix + " are used up";
        return false;
    }
    row.unit = prefix + RunningNumber(last + 1);
    const Statement statement = Prepare(db, InsertRow(), error);
    if (!statement || !BindRow(db, statement.get(), row, error)) return false;
    return sqlite3_step(statement.get()) == SQLITE_DONE || Failed(db, error);
}

}  // namespace

struct Journal::Impl {
    std::mutex mutex;
    sqlite3* db = nullptr;
    BusyWait busy;
    int version = kSchemaVersion;
    std::string unit_prefix;  // --unit-prefix; empty: the station's own

    ~Impl() { sqlite3_close_v2(db); }

    // Runs `work` under the lock; a transaction that it leaves open, by failing or throwing, is
    // rolled back.
    template <typename Work>
    bool Locked(std::string& error, Work work) {
        try {
            const std::lock_guard lock(mutex);
            bool done = false;
            try {
                done = work();
            } catch (const std::exception& exception) {
                error = exception.what();
            }
            if (!done && sqlite3_get_autocommit(db) == 0) {
                sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            }
            return done;
        } catch (const std::exception& exception) {
            error = exception.what();
            return false;
        }
    }
};

Journal::Journal(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Journal::~Journal() = default;

std::unique_ptr<Journal> Journal::Open(const std::string& path, std::string& error,
                                       const std::atomic<int>* abandon) {
    try {
        if (path.empty()) {
            error = "no journal file given";
            return nullptr;
        }
        if (std::string reason = PrepareJournalFolder(path); !reason.empty()) {
            error = std::move(reason);
            return nullptr;
        }
        auto impl = std::make_unique<Impl>();
        impl->busy.abandon = abandon;
#ifndef _WIN32
        // Operators' names are in it: the owner's alone, and SQLite gives the -wal and -shm
        // files the journal's own mode.
        if (const int made = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            made >= 0) {
            ::close(made);
        }
#endif
        const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
        const int opened = sqlite3_open_v2(path.c_str(), &impl->db, flags, nullptr);
        std::string reason;
        if (opened != SQLITE_OK) {
            reason = impl->db != nullptr ? sqlite3_errmsg(impl->db) : sqlite3_errstr(opened);
        } else if (impl->Locked(reason, [&impl, &reason] {
                       return Configure(impl->db, impl->busy, reason);
                   })) {
            return std::unique_ptr<Journal>(new Journal(std::move(impl)));
        }
        // The reason alone: the caller names the file as it names it elsewhere.
        error = std::move(reason);
    } catch (const std::exception& exception) {
        error = exception.what();
    }
    return nullptr;
}

bool Journal::Begin(UnitRow& row, std::string& error) {
    return impl_->Locked(error, [&] {
        UnitRow made = row;
        if (made.id.empty()) made.id = NewUuid();
        if (made.started_at.empty()) made.started_at = UtcNow();
        if (made.profile_sha256.empty()) made.profile_sha256 = Sha256Hex(made.profile);
        // Immediate: the other station's Begin waits here, so both cannot take one number.
        if (!Execute(impl_->db, "BEGIN IMMEDIATE", error) ||
            !Insert(impl_->db, made, impl_->unit_prefix, error) ||
            !Execute(impl_->db, "COMMIT", error)) {
            return false;
        }
        row = std::move(made);
        return true;
    });
}

bool Journal::Finish(UnitRow& row, std::string& error) {
    return impl_->Locked(error, [&] {
        UnitRow made = row;
        if (made.finished_at.empty()) made.finished_at = UtcNow();
        const Statement statement =
            Prepare(impl_->db,
                    "UPDATE units SET finished_at = ?10, firmware = ?11, "
                    "as_found = ?12, as_left = ?13, cold_junction = ?14, "
                    "verdict = ?15, error = ?16, tries = ?17, forwarded_at = NULL, "
                    "central_refusal = NULL WHERE id = ?1",
                    error);
        if (!statement || !BindRow(impl_->db, statement.get(), made, error)) return false;
        if (sqlite3_step(statement.get()) != SQLITE_DONE) return Failed(impl_->db, error);
        if (sqlite3_changes(impl_->db) == 0) {
            error = "the journal has no unit with the id \"" + made.id + "\"";
            return false;
        }
        row = std::move(made);
        return true;
    });
}

std::vector<UnitRow> Journal::Rows(const Filter& filter, std::string& error) {
    std::vector<UnitRow> rows;
    // Empty on success, so that an empty list and a failure read apart.
    error.clear();
    // A journal of an earlier schema has nothing set aside.
    if (filter.set_aside && impl_->version < 3) return rows;
    const bool read = impl_->Locked(error, [&] {
        return Query(impl_->db,
                     "SELECT " + ColumnList() + (filter.set_aside ? ", central_refusal" : "") +
                         " FROM units",
                     " ORDER BY rowid", filter, error, [&rows](sqlite3_stmt* statement) {
                         rows.push_back(ReadRow(statement));
                         if (sqlite3_column_count(statement) > 17) {
                             rows.back().central_refusal = ColumnText(statement, 17);
                         }
                     });
    });
    if (!read) rows.clear();
    return rows;
}

std::vector<BatchSummary> Journal::Summary(const Filter& filter, std::string& error) {
    std::vector<BatchSummary> batches;
    error.clear();
    if (filter.set_aside && impl_->version < 3) return batches;
    const bool read = impl_->Locked(error, [&] {
        return Query(impl_->db,
                     "SELECT batch, COUNT(*), SUM(verdict = 'pass'), SUM(verdict = 'fail'), "
                     "SUM(verdict IS NULL), MIN(started_at), MAX(finished_at) FROM units",
                     " GROUP BY batch ORDER BY MIN(rowid)", filter, error,
                     [&batches](sqlite3_stmt* statement) {
                         batches.push_back(
                             {ColumnText(statement, 0), sqlite3_column_int(statement, 1),
                              sqlite3_column_int(statement, 2), sqlite3_column_int(statement, 3),
                              sqlite3_column_int(statement, 4), ColumnText(statement, 5),
                              ColumnText(statement, 6)});
                     });
    });
    if (!read) batches.clear();
    return batches;
}

std::vector<UnitRow> Journal::Waiting(int limit, std::string& error) {
    std::vector<UnitRow> rows;
    error.clear();
    const bool read = impl_->Locked(error, [&] {
        const Statement statement =
            Prepare(impl_->db,
                    "SELECT " + ColumnList() +
                        " FROM units WHERE forwarded_at IS NULL ORDER BY rowid LIMIT ?1",
                    error);
        if (!statement || sqlite3_bind_int(statement.get(), 1, limit) != SQLITE_OK) return false;
        return StepRows(impl_->db, statement.get(), rows, error);
    });
    if (!read) rows.clear();
    return rows;
}

bool Journal::MarkForwarded(const std::vector<UnitRow>& rows, std::string& error) {
    return impl_->Locked(error, [&] {
        // A row completed while its earlier state was on the way keeps waiting: its verdict has
        // yet to reach the central journal.
        // An interrupted unit is completed without a verdict: its end time tells it apart.
        const Statement statement =
            Prepare(impl_->db,
                    "UPDATE units SET forwarded_at = ?1, central_refusal = "
                    "?5 WHERE id = ?2 AND verdict IS ?3 AND finished_at IS ?4",
                    error);
        if (!statement || !Execute(impl_->db, "BEGIN IMMEDIATE", error)) return false;
        const std::string now = UtcNow();
        for (const UnitRow& row : rows) {
            sqlite3_reset(statement.get());
            if (BindText(statement.get(), 1, now) != SQLITE_OK ||
                BindText(statement.get(), 2, row.id) != SQLITE_OK ||
                BindNullable(statement.get(), 3, row.verdict) != SQLITE_OK ||
                BindNullable(statement.get(), 4, row.finished_at) != SQLITE_OK ||
                BindNullable(statement.get(), 5, row.central_refusal) != SQLITE_OK ||
                sqlite3_step(statement.get()) != SQLITE_DONE) {
                return Failed(impl_->db, error);
            }
        }
        return Execute(impl_->db, "COMMIT", error);
    });
}

int Journal::CountWaiting(std::string& error, bool set_aside) {
    int count = -1;
    impl_->Locked(error, [&] {
        std::string text;
        if (SingleText(impl_->db,
                       set_aside ? "SELECT COUNT(*) FROM units WHERE central_refusal IS NOT NULL"
                                 : "SELECT COUNT(*) FROM units WHERE forwarded_at IS NULL",
                       text, error) != SQLITE_OK) {
            return false;
        }
        count = std::stoi(text);
        return true;
    });
    return count;
}

void Journal::UseUnitPrefix(const std::string& prefix) {
    impl_->unit_prefix = prefix;
}

std::string Journal::UnitPrefixOf(const std::string& station, std::string& error) {
    std::string prefix = impl_->unit_prefix;
    if (prefix.empty()) {
        impl_->Locked(error, [&] { return PrefixOf(impl_->db, station, prefix, error); });
    }
    return prefix;
}

bool Journal::Merge(const std::vector<UnitRow>& rows, int& changed, std::string& error) {
    changed = 0;
    return impl_->Locked(error, [&] {
        const Statement statement = Prepare(
            impl_->db,
            InsertRow() +
                " ON CONFLICT (id) DO UPDATE SET finished_at = ?10, firmware = ?11, "
                "as_found = ?12, as_left = ?13, cold_junction = ?14, verdict = ?15, error = ?16, "
                "tries = ?17, forwarded_at = NULL, central_refusal = NULL WHERE " +
                kKnowsMore,
            error);
        if (!statement || !Execute(impl_->db, "BEGIN IMMEDIATE", error)) return false;
        for (const UnitRow& row : rows) {
            sqlite3_reset(statement.get());
            if (!BindRow(impl_->db, statement.get(), row, error)) return false;
            if (sqlite3_step(statement.get()) != SQLITE_DONE) {
                // The unit numbers are the station's own; another station with the same prefix
                // may have used this one for another unit.
                if (sqlite3_extended_errcode(impl_->db) == SQLITE_CONSTRAINT_UNIQUE) {
                    error = "unit " + row.unit + " is already here as another unit (id " + row.id +
                            " differs)";
                    return false;
                }
                return Failed(impl_->db, error);
            }
            changed += sqlite3_changes(impl_->db);
        }
        return Execute(impl_->db, "COMMIT", error);
    });
}

// Opens a file to read it and nothing else: no table, no WAL mode, no -wal or -shm file is made,
// and a file on read-only media or without write permission reads as well. A journal in WAL
// mode whose -wal file is gone has every row in the file itself, and is read as it lies;
// where the -wal file is there a station may be writing, and SQLite reads it with the station.
std::unique_ptr<Journal> Journal::OpenToRead(const std::string& path, std::string& error,
                                             const std::atomic<int>* abandon) {
    try {
        namespace fs = std::filesystem;
        const fs::path file(std::u8string(path.begin(), path.end()));
        std::error_code failed;
        if (!fs::is_regular_file(file, failed)) {
            error = fs::exists(file, failed) ? "it is not a file" : "there is no such file";
            return nullptr;
        }
        char header[20] = {};
        std::ifstream(file, std::ios::binary).read(header, sizeof header);
        const bool wal =
            std::string_view(header, 16) == std::string_view("SQLite format 3\0", 16) &&
            header[18] == 2;
        fs::path log = file;
        log += "-wal";
        // An absolute path after an empty authority ("file:///tmp/j", "file:////server/share/j",
        // "file:///C:/j"), a relative one alone ("file:j").
        std::string uri = "file:";
        if (!path.empty() && (path[0] == '/' || path[0] == '\\')) uri += "//";
        if (path.size() > 1 && path[1] == ':') uri += "///";
        for (const char c : path) {
            const auto byte = static_cast<unsigned char>(c);
            if (std::isalnum(byte) != 0 ||
                std::string_view("/-._~:").find(c) != std::string::npos) {
                uri += c;
            } else if (c == '\\') {
                uri += '/';
            } else {
                static constexpr char kHex[] = "0123456789ABCDEF";
                uri += {'%', kHex[byte >> 4], kHex[byte & 0xF]};
            }
        }
        uri += wal && !fs::exists(log, failed) ? "?mode=ro&immutable=1" : "?mode=ro";
        auto impl = std::make_unique<Impl>();
        impl->busy.abandon = abandon;
        const int opened = sqlite3_open_v2(
            uri.c_str(), &impl->db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_FULLMUTEX,
            nullptr);
        if (opened != SQLITE_OK) {
            error = impl->db != nullptr ? sqlite3_errmsg(impl->db) : sqlite3_errstr(opened);
            return nullptr;
        }
        sqlite3_busy_handler(impl->db, WaitWhileBusy, &impl->busy);
        std::string table;
        if (!KnownSchema(impl->db, impl->version, error)) return nullptr;
        if (impl->version == 0 ||
            SingleText(impl->db,
                       "SELECT count(*) FROM sqlite_schema WHERE type = 'table' AND name = 'units'",
                       table, error) != SQLITE_OK ||
            table != "1") {
            // A failed look keeps SQLite's reason.
            if (impl->version == 0 || table == "0") {
                error = "it is not a journal of this program (it has no table units)";
            }
            return nullptr;
        }
        return std::unique_ptr<Journal>(new Journal(std::move(impl)));
    } catch (const std::exception& exception) {
        error = exception.what();
        return nullptr;
    }
}

bool ReadJournalFile(const std::string& path, std::vector<UnitRow>& rows, std::string& error,
                     const std::atomic<int>* abandon) {
    rows.clear();
    const std::unique_ptr<Journal> journal = Journal::OpenToRead(path, error, abandon);
    if (!journal) return false;
    rows = journal->Rows({}, error);
    return error.empty();
}

}  // namespace journal
