#include "journal/central.h"

#include <libpq-fe.h>
#ifdef _WIN32
#include <winsock2.h>
#else
#include <poll.h>
#endif

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <functional>

#include "journal/filter.h"

namespace journal {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kSchemaVersion = 1;
// libpq ignores connect_timeout in its asynchronous calls, which these are, so that a stop is
// seen while the server is silent: the deadlines are these.
constexpr auto kConnectTimeout = 10s;
constexpr auto kStatementTimeout = 20s;
constexpr std::size_t kRowsPerStatement = 250;
constexpr int kColumns = 17;

// Two stations meeting an empty server create the tables one after the other.
constexpr const char* kCreate = R"sql(
SELECT pg_advisory_xact_lock(4815162342);
CREATE TABLE IF NOT EXISTS schema_version (version integer NOT NULL);
CREATE TABLE IF NOT EXISTS units (
    id text PRIMARY KEY,
    unit text NOT NULL,
    batch text NOT NULL,
    station text NOT NULL,
    slot text NOT NULL,
    operator text NOT NULL,
    profile text NOT NULL,
    profile_sha256 text NOT NULL,
    started_at timestamptz NOT NULL,
    finished_at timestamptz,
    firmware text,
    as_found text,
    as_left text,
    cold_junction double precision,
    verdict text CHECK (verdict IN ('pass', 'fail')),
    error text,
    tries integer NOT NULL DEFAULT 0,
    received_at timestamptz NOT NULL DEFAULT now()
);
CREATE INDEX IF NOT EXISTS units_started_at ON units (started_at);
CREATE INDEX IF NOT EXISTS units_batch ON units (batch);
CREATE INDEX IF NOT EXISTS units_unit ON units (unit);
INSERT INTO schema_version SELECT 1 WHERE NOT EXISTS (SELECT FROM schema_version);
)sql";

// The times as the local journal writes them, so that both journals list alike.
constexpr const char* kSelectColumns =
    "id, unit, batch, station, slot, operator, profile, profile_sha256, "
    "to_char(started_at AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"'), "
    "to_char(finished_at AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"'), "
    "firmware, as_found, as_left, cold_junction, verdict, error, tries";

struct ClearResult {
    void operator()(PGresult* result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ClearResult>;

// libpq's messages span lines and end with one; a station shows them on one.
std::string OneLine(const char* message) {
    std::string line;
    for (const char* c = message; c != nullptr && *c != '\0'; ++c) {
        const bool blank = std::isspace(static_cast<unsigned char>(*c)) != 0;
        if (!blank) {
            line += *c;
        } else if (!line.empty() && line.back() != ' ') {
            line += ' ';
        }
    }
    if (!line.empty() && line.back() == ' ') line.pop_back();
    return line.empty() ? "the server gave no reason" : line;
}

// Waits until the connection's socket can be read (or written), the deadline passes, or
// `abandon` is set, looking at it every 100 ms.
bool Ready(PGconn* connection, bool write, Clock::time_point deadline,
           const std::atomic<int>* abandon, std::string& error) {
    for (;;) {
        if (abandon != nullptr && abandon->load() != 0) {
            error = "given up: the program is ending";
            return false;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left <= 0ms) {
            error = "the server did not answer in time";
            return false;
        }
        const int slice = static_cast<int>(std::min<long long>(left.count(), 100));
#ifdef _WIN32
        // libpq's socket is a SOCKET in an int; Windows reports its errors apart from errno.
        WSAPOLLFD wait{static_cast<SOCKET>(PQsocket(connection)),
                       static_cast<short>(write ? POLLOUT : POLLIN), 0};
        const int polled = ::WSAPoll(&wait, 1, slice);
        if (polled > 0) return true;
        if (polled < 0) {
            error = "waiting for the server failed (Windows sockets error " +
                    std::to_string(::WSAGetLastError()) + ")";
            return false;
        }
#else
        pollfd wait{PQsocket(connection), static_cast<short>(write ? POLLOUT : POLLIN), 0};
        const int polled = ::poll(&wait, 1, slice);
        if (polled > 0) return true;
        if (polled < 0 && errno != EINTR) {
            error = std::strerror(errno);
            return false;
        }
#endif
    }
}

std::string Text(const PGresult* result, int row, int column) {
    if (PQgetisnull(result, row, column) != 0) return {};
    return std::string(PQgetvalue(result, row, column),
                       static_cast<std::size_t>(PQgetlength(result, row, column)));
}

int Number(const PGresult* result, int row, int column) {
    int number = 0;
    const std::string text = Text(result, row, column);
    std::from_chars(text.data(), text.data() + text.size(), number);
    return number;
}

UnitRow ReadRow(const PGresult* result, int row) {
    UnitRow unit;
    std::string* texts[] = {&unit.id,          &unit.unit,           &unit.batch,
                            &unit.station,     &unit.slot,           &unit.operator_name,
                            &unit.profile,     &unit.profile_sha256, &unit.started_at,
                            &unit.finished_at, &unit.firmware,       &unit.as_found,
                            &unit.as_left};
    int column = 0;
    for (std::string* text : texts) *text = Text(result, row, column++);
    if (const std::string degrees = Text(result, row, 13); !degrees.empty()) {
        double value = 0;
        std::from_chars(degrees.data(), degrees.data() + degrees.size(), value);
        unit.cold_junction = value;
    }
    unit.verdict = Text(result, row, 14);
    unit.error = Text(result, row, 15);
    unit.tries = Number(result, row, 16);
    return unit;
}

// A statement's parameters as text, NULL for an empty optional field.
class Parameters {
  public:
    void Add(const std::string& text, bool nullable = false) {
        texts_.push_back(text);
        null_.push_back(nullable && text.empty());
    }
    void AddRow(const UnitRow& row) {
        for (const std::string* text :
             {&row.id, &row.unit, &row.batch, &row.station, &row.slot, &row.operator_name,
              &row.profile, &row.profile_sha256, &row.started_at}) {
            Add(*text);
        }
        for (const std::string* text :
             {&row.finished_at, &row.firmware, &row.as_found, &row.as_left}) {
            Add(*text, true);
        }
        char degrees[32] = {};
        if (row.cold_junction)
            std::to_chars(degrees, degrees + sizeof degrees - 1, *row.cold_junction);
        Add(degrees, true);
        Add(row.verdict, true);
        Add(row.error, true);
        Add(std::to_string(row.tries));
    }
    std::string Next() const { return "$" + std::to_string(texts_.size() + 1); }
    int Count() const { return static_cast<int>(texts_.size()); }
    std::vector<const char*> Values() const {
        std::vector<const char*> values;
        for (std::size_t i = 0; i < texts_.size(); ++i) {
            values.push_back(null_[i] ? nullptr : texts_[i].c_str());
        }
        return values;
    }

  private:
    std::vector<std::string> texts_;
    std::vector<bool> null_;
};

// The WHERE clause of a filter, its parameters added.
bool Where(const Filter& filter, Parameters& parameters, std::string& where, std::string& error) {
    std::string since;
    if (!CheckedFilter(filter, since, error)) return false;
    const auto add = [&where](const std::string& condition) {
        where += (where.empty() ? " WHERE " : " AND ") + condition;
    };
    if (!filter.batch.empty()) {
        add("batch = " + parameters.Next());
        parameters.Add(filter.batch);
    }
    if (!since.empty()) {
        add("started_at >= " + parameters.Next() + "::timestamp AT TIME ZONE 'UTC'");
        parameters.Add(since);
    }
    if (filter.verdict == "interrupted") {
        add("verdict IS NULL");
    } else if (!filter.verdict.empty()) {
        add("verdict = " + parameters.Next());
        parameters.Add(filter.verdict);
    }
    return true;
}

}  // namespace

struct Central::Impl {
    PGconn* connection = nullptr;
    const std::atomic<int>* abandon = nullptr;

    ~Impl() { PQfinish(connection); }

    // Sends the statement, without blocking, and waits for its results; the last one, or null
    // with the reason (the first error when there are several).
    Result Run(const std::string& sql, const Parameters* parameters, std::string& error) {
        const auto deadline = Clock::now() + kStatementTimeout;
        const std::vector<const char*> values =
            parameters != nullptr ? parameters->Values() : std::vector<const char*>{};
        const int sent = parameters != nullptr
                             ? PQsendQueryParams(connection, sql.c_str(), parameters->Count(),
                                                 nullptr, values.data(), nullptr, nullptr, 0)
                             : PQsendQuery(connection, sql.c_str());
        if (sent == 0) return Fail(error);
        int flushed;
        while ((flushed = PQflush(connection)) == 1) {
            if (!Ready(connection, true, deadline, abandon, error)) return nullptr;
            if (PQconsumeInput(connection) == 0) return Fail(error);
        }
        if (flushed < 0) return Fail(error);
        Result last;
        std::string first_error;
        for (;;) {
            while (PQisBusy(connection) != 0) {
                if (!Ready(connection, false, deadline, abandon, error)) return nullptr;
                if (PQconsumeInput(connection) == 0) return Fail(error);
            }
            Result result(PQgetResult(connection));
            if (!result) break;
            const ExecStatusType status = PQresultStatus(result.get());
            if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK && first_error.empty()) {
                first_error = OneLine(PQresultErrorMessage(result.get()));
            }
            last = std::move(result);
        }
        if (!first_error.empty()) {
            error = std::move(first_error);
            return nullptr;
        }
        if (!last) error = "the server sent no result";
        return last;
    }

    // Runs `head`, the filter's WHERE clause and `tail`, handing each row of the result to
    // `take`; the error empty when it succeeds, so that no rows and a failure read apart.
    template <typename Take>
    bool Query(const std::string& head, const char* tail, const Filter& filter, std::string& error,
               Take take) {
        error.clear();
        try {
            Parameters parameters;
            std::string where;
            if (!Where(filter, parameters, where, error)) return false;
            const Result result = Run(head + where + tail, &parameters, error);
            if (!result) return false;
            for (int row = 0; row < PQntuples(result.get()); ++row) take(result.get(), row);
            return true;
        } catch (const std::exception& exception) {
            error = exception.what();
            return false;
        }
    }

    Result Fail(std::string& error) const {
        error = OneLine(PQerrorMessage(connection));
        return nullptr;
    }

    bool Connect(const std::string& url, std::string& error) {
        // Keywords before dbname are defaults that the URL may override.
        const char* keywords[] = {"application_name", "dbname", nullptr};
        const char* values[] = {"transmitter-cli", url.c_str(), nullptr};
        connection = PQconnectStartParams(keywords, values, 1);
        if (connection == nullptr) {
            error = "out of memory";
            return false;
        }
        const auto deadline = Clock::now() + kConnectTimeout;
        PostgresPollingStatusType polling = PGRES_POLLING_WRITING;
        while (PQstatus(connection) != CONNECTION_BAD && polling != PGRES_POLLING_OK) {
            if (polling == PGRES_POLLING_FAILED) break;
            if (!Ready(connection, polling == PGRES_POLLING_WRITING, deadline, abandon, error)) {
                return false;
            }
            polling = PQconnectPoll(connection);
        }
        if (PQstatus(connection) != CONNECTION_OK) return static_cast<bool>(Fail(error));
        return PQsetnonblocking(connection, 1) == 0 || static_cast<bool>(Fail(error));
    }

    bool KnownSchema(std::string& error) {
        Result tables = Run(
            "SELECT to_regclass('schema_version') IS NOT NULL AND to_regclass('units') IS NOT NULL",
            nullptr, error);
        if (!tables) return false;
        if (Text(tables.get(), 0, 0) != "t" && !Run(kCreate, nullptr, error)) {
            error = "it has no tables yet, and this login may not create them: " + error;
            return false;
        }
        Result version = Run("SELECT max(version) FROM schema_version", nullptr, error);
        if (!version) return false;
        const int known = Number(version.get(), 0, 0);
        if (known >= 1 && known <= kSchemaVersion) return true;
        error = "its schema is " + Text(version.get(), 0, 0) + ", and this program knows " +
                std::to_string(kSchemaVersion) + ": use the program that made it, or a newer one";
        return false;
    }
};

Central::Central(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Central::~Central() = default;

std::unique_ptr<Central> Central::Connect(const std::string& url, const std::atomic<int>* abandon,
                                          std::string& error) {
    try {
        if (std::string refusal = CentralUrlRefusal(url); !refusal.empty()) {
            error = std::move(refusal);
            return nullptr;
        }
        auto impl = std::make_unique<Impl>();
        impl->abandon = abandon;
        if (!impl->Connect(url, error) || !impl->KnownSchema(error)) return nullptr;
        return std::unique_ptr<Central>(new Central(std::move(impl)));
    } catch (const std::exception& exception) {
        error = exception.what();
        return nullptr;
    }
}

bool Central::Merge(const std::vector<UnitRow>& rows, int& changed, std::string& error) {
    changed = 0;
    try {
        for (std::size_t first = 0; first < rows.size(); first += kRowsPerStatement) {
            const std::size_t end = std::min(rows.size(), first + kRowsPerStatement);
            Parameters values;
            int placeholder = 0;
            std::string sql =
                "INSERT INTO units (id, unit, batch, station, slot, operator, profile, "
                "profile_sha256, started_at, finished_at, firmware, as_found, as_left, "
                "cold_junction, verdict, error, tries) VALUES ";
            for (std::size_t i = first; i < end; ++i) {
                sql += i == first ? "(" : ", (";
                for (int column = 0; column < kColumns; ++column) {
                    sql += (column == 0 ? "$" : ", $") + std::to_string(++placeholder);
                }
                sql += ")";
            }
            for (std::size_t i = first; i < end; ++i) values.AddRow(rows[i]);
            sql +=
                " ON CONFLICT (id) DO UPDATE SET finished_at = EXCLUDED.finished_at, "
                "firmware = EXCLUDED.firmware, as_found = EXCLUDED.as_found, "
                "as_left = EXCLUDED.as_left, cold_junction = EXCLUDED.cold_junction, "
                "verdict = EXCLUDED.verdict, error = EXCLUDED.error, tries = EXCLUDED.tries, "
                "received_at = now() "
                "WHERE units.verdict IS NULL AND EXCLUDED.verdict IS NOT NULL";
            const Result result = impl_->Run(sql, &values, error);
            if (!result) return false;
            changed += std::atoi(PQcmdTuples(result.get()));
        }
        return true;
    } catch (const std::exception& exception) {
        error = exception.what();
        return false;
    }
}

std::vector<UnitRow> Central::Rows(const Filter& filter, std::string& error) {
    std::vector<UnitRow> rows;
    const bool read = impl_->Query(
        std::string("SELECT ") + kSelectColumns + " FROM units", " ORDER BY started_at, id", filter,
        error, [&rows](const PGresult* result, int row) { rows.push_back(ReadRow(result, row)); });
    if (!read) rows.clear();
    return rows;
}

std::vector<BatchSummary> Central::Summary(const Filter& filter, std::string& error) {
    std::vector<BatchSummary> batches;
    const bool read = impl_->Query(
        "SELECT batch, count(*), count(*) FILTER (WHERE verdict = 'pass'), "
        "count(*) FILTER (WHERE verdict = 'fail'), count(*) FILTER (WHERE verdict IS NULL), "
        "to_char(min(started_at) AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"'), "
        "to_char(max(finished_at) AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"') "
        "FROM units",
        " GROUP BY batch ORDER BY min(started_at)", filter, error,
        [&batches](const PGresult* result, int row) {
            batches.push_back({Text(result, row, 0), Number(result, row, 1), Number(result, row, 2),
                               Number(result, row, 3), Number(result, row, 4), Text(result, row, 5),
                               Text(result, row, 6)});
        });
    if (!read) batches.clear();
    return batches;
}

std::string CentralUrlRefusal(const std::string& url) {
    char* message = nullptr;
    PQconninfoOption* options = PQconninfoParse(url.c_str(), &message);
    if (options == nullptr) {
        std::string reason = message != nullptr ? OneLine(message) : "out of memory";
        PQfreemem(message);
        // Not repeated: it may hold a password after all.
        return "--central is no connection string: " + reason;
    }
    bool password = false;
    for (const PQconninfoOption* option = options; option->keyword != nullptr; ++option) {
        if (std::strcmp(option->keyword, "password") == 0 && option->val != nullptr &&
            option->val[0] != '\0') {
            password = true;
        }
    }
    PQconninfoFree(options);
    if (!password) return {};
    return "the connection string holds a password, which anyone listing the processes would "
           "see: put it in ~/.pgpass, PGPASSWORD or a service file";
}

}  // namespace journal
