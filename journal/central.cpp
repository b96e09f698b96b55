#include "journal/central.h"

#include <libpq-fe.h>
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#endif

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

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
CREATE TABLE IF NOT EXISTS prefixes (
    prefix text PRIMARY KEY,
    station text NOT NULL,
    claimed_at timestamptz NOT NULL DEFAULT now()
);
INSERT INTO schema_version SELECT 1 WHERE NOT EXISTS (SELECT FROM schema_version);
)sql";

// As the local journal's Merge: a row that knows more replaces one that knows less, never the
// other way round.
constexpr const char* kKnowsMore =
    "(units.finished_at IS NULL OR EXCLUDED.finished_at IS NOT NULL) AND "
    "(units.verdict IS NULL OR EXCLUDED.verdict IS NOT NULL) AND "
    "(units.error IS NULL OR EXCLUDED.error IS NOT NULL) AND "
    "(units.as_found IS NULL OR EXCLUDED.as_found IS NOT NULL) AND "
    "(units.as_left IS NULL OR EXCLUDED.as_left IS NOT NULL) AND "
    "((units.finished_at IS NULL AND EXCLUDED.finished_at IS NOT NULL) OR "
    "(units.verdict IS NULL AND EXCLUDED.verdict IS NOT NULL) OR "
    "(units.error IS NULL AND EXCLUDED.error IS NOT NULL) OR "
    "(units.as_found IS NULL AND EXCLUDED.as_found IS NOT NULL) OR "
    "(units.as_left IS NULL AND EXCLUDED.as_left IS NOT NULL))";

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
        add("started_at >= " + parameters.Next() + "::timestamptz");
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

void IgnoreNotice(void*, const char*) {}

std::vector<std::string> Split(const std::string& list) {
    std::vector<std::string> items;
    std::size_t from = 0;
    for (std::size_t comma; (comma = list.find(',', from)) != std::string::npos; from = comma + 1) {
        items.push_back(list.substr(from, comma - from));
    }
    items.push_back(list.substr(from));
    return items;
}

std::string Joined(const std::vector<std::string>& items) {
    std::string list;
    for (const std::string& item : items) list += (list.empty() ? "" : ",") + item;
    return list;
}

// libpq looks host names up inside its connecting calls, where a name server that does not
// answer holds it for as long as the resolver's time-outs and tries, whatever the deadline or a
// stop. The names are looked up here instead, on a thread of their own that is left to finish
// alone when the wait is given up, and libpq gets the addresses (hostaddr) beside the names,
// which it still checks a server's certificate against.
struct Lookup {
    std::vector<std::string> hosts, ports;  // as the URL gives them (one port for all, or one each)
    std::mutex mutex;
    std::condition_variable done_cv;
    bool done = false;
    std::vector<std::string> names, addresses, address_ports;  // one entry per address
    std::string failure;

    void Run() {
        std::vector<std::string> found_names, found, found_ports;
        std::string failed;
        for (std::size_t i = 0; i < hosts.size(); ++i) {
            addrinfo hints{};
            hints.ai_family = AF_UNSPEC;
            hints.ai_socktype = SOCK_STREAM;
            addrinfo* list = nullptr;
            if (const int code = ::getaddrinfo(hosts[i].c_str(), nullptr, &hints, &list);
                code != 0) {
                failed = "could not translate host name \"" + hosts[i] +
                         "\" to address: " + ::gai_strerror(code);
                continue;
            }
            for (const addrinfo* at = list; at != nullptr; at = at->ai_next) {
                char text[NI_MAXHOST];
                if (::getnameinfo(at->ai_addr, at->ai_addrlen, text, sizeof text, nullptr, 0,
                                  NI_NUMERICHOST) == 0) {
                    found_names.push_back(hosts[i]);
                    found.emplace_back(text);
                    found_ports.push_back(ports.size() == hosts.size() ? ports[i] : "");
                }
            }
            ::freeaddrinfo(list);
        }
        const std::lock_guard lock(mutex);
        names = std::move(found_names);
        addresses = std::move(found);
        address_ports = std::move(found_ports);
        failure = std::move(failed);
        done = true;
        done_cv.notify_all();
    }
};

// The host names of the URL (or PGHOST) to look up: none for sockets, addresses given, or
// none named.
std::shared_ptr<Lookup> LookupFor(const std::string& url) {
    char* message = nullptr;
    PQconninfoOption* options = PQconninfoParse(url.c_str(), &message);
    PQfreemem(message);
    if (options == nullptr) return nullptr;
    std::string host, hostaddr, port;
    for (const PQconninfoOption* option = options; option->keyword != nullptr; ++option) {
        const std::string value = option->val != nullptr ? option->val : "";
        if (std::strcmp(option->keyword, "host") == 0) host = value;
        if (std::strcmp(option->keyword, "hostaddr") == 0) hostaddr = value;
        if (std::strcmp(option->keyword, "port") == 0) port = value;
    }
    PQconninfoFree(options);
    const auto environment = [](const char* name) {
        const char* value = std::getenv(name);
        return std::string(value != nullptr ? value : "");
    };
    if (host.empty()) host = environment("PGHOST");
    if (hostaddr.empty()) hostaddr = environment("PGHOSTADDR");
    if (port.empty()) port = environment("PGPORT");
    if (host.empty() || !hostaddr.empty()) return nullptr;
    auto lookup = std::make_shared<Lookup>();
    lookup->hosts = Split(host);
    lookup->ports = Split(port);
    for (const std::string& name : lookup->hosts) {
        if (name.empty() || name[0] == '/' || name[0] == '@') return nullptr;
    }
    return lookup;
}

}  // namespace

struct Central::Impl {
    PGconn* connection = nullptr;
    const std::atomic<int>* abandon = nullptr;
    std::string sqlstate;  // of the last statement's first error
    Central::Link link;

    ~Impl() { PQfinish(connection); }

    // Sends the statement, without blocking, and waits for its results; the last one, or null
    // with the reason (the first error when there are several).
    Result Run(const std::string& sql, const Parameters* parameters, std::string& error) {
        sqlstate.clear();
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
        sqlstate.clear();
        for (;;) {
            while (PQisBusy(connection) != 0) {
                if (!Ready(connection, false, deadline, abandon, error)) return nullptr;
                if (PQconsumeInput(connection) == 0) return Fail(error);
            }
            Result result(PQgetResult(connection));
            if (!result) break;
            const ExecStatusType status = PQresultStatus(result.get());
            if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK && first_error.empty()) {
                // The message alone, without libpq's "ERROR:" and the statement's context.
                const char* primary = PQresultErrorField(result.get(), PG_DIAG_MESSAGE_PRIMARY);
                first_error =
                    OneLine(primary != nullptr ? primary : PQresultErrorMessage(result.get()));
                const char* state = PQresultErrorField(result.get(), PG_DIAG_SQLSTATE);
                sqlstate = state != nullptr ? state : "";
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

    // Looks the URL's host names up, waiting no longer than the deadline or a stop; `host`,
    // `hostaddr` and `port` then name one address each, in the order the lookup gave them.
    bool LookUp(const std::string& url, Clock::time_point deadline, std::string& host,
                std::string& hostaddr, std::string& port, std::string& error) {
        const std::shared_ptr<Lookup> lookup = LookupFor(url);
        if (!lookup) return true;
        std::thread([lookup] { lookup->Run(); }).detach();
        std::unique_lock lock(lookup->mutex);
        while (!lookup->done_cv.wait_for(lock, 100ms, [&lookup] { return lookup->done; })) {
            if (abandon != nullptr && abandon->load() != 0) {
                error = "given up: the program is ending";
                return false;
            }
            if (Clock::now() >= deadline) {
                error = "the server did not answer in time (looking its name up)";
                return false;
            }
        }
        if (lookup->addresses.empty()) {
            error = lookup->failure;
            return false;
        }
        host = Joined(lookup->names);
        hostaddr = Joined(lookup->addresses);
        if (lookup->ports.size() > 1) port = Joined(lookup->address_ports);
        return true;
    }

    bool Connect(const std::string& url, std::string& error) {
        const auto deadline = Clock::now() + kConnectTimeout;
        std::string host, hostaddr, port;
        if (!LookUp(url, deadline, host, hostaddr, port, error)) return false;
        // Keywords before dbname are defaults that the URL may override; those after it
        // override the URL.
        std::vector<const char*> keywords{"application_name", "dbname"};
        std::vector<const char*> values{"transmitter-cli", url.c_str()};
        for (const auto& [keyword, value] :
             {std::pair<const char*, const std::string*>{"host", &host},
              {"hostaddr", &hostaddr},
              {"port", &port}}) {
            if (value->empty()) continue;
            keywords.push_back(keyword);
            values.push_back(value->c_str());
        }
        keywords.push_back(nullptr);
        values.push_back(nullptr);
        connection = PQconnectStartParams(keywords.data(), values.data(), 1);
        if (connection == nullptr) {
            error = "out of memory";
            return false;
        }
        // The server's notices ("already exists, skipping") are no business of the user's, and
        // libpq would print them amid the program's output.
        PQsetNoticeProcessor(connection, IgnoreNotice, nullptr);
        PostgresPollingStatusType polling = PGRES_POLLING_WRITING;
        while (PQstatus(connection) != CONNECTION_BAD && polling != PGRES_POLLING_OK) {
            if (polling == PGRES_POLLING_FAILED) break;
            if (!Ready(connection, polling == PGRES_POLLING_WRITING, deadline, abandon, error)) {
                return false;
            }
            polling = PQconnectPoll(connection);
        }
        if (PQstatus(connection) != CONNECTION_OK) return static_cast<bool>(Fail(error));
        link.encrypted = PQsslInUse(connection) == 1;
        if (PQconninfoOption* options = PQconninfo(connection)) {
            for (const PQconninfoOption* option = options; option->keyword != nullptr; ++option) {
                // verify-ca checks the certificate's signer but not that it names the host.
                if (std::strcmp(option->keyword, "sslmode") == 0 && option->val != nullptr) {
                    link.verified = link.encrypted && std::strcmp(option->val, "verify-full") == 0;
                }
            }
            PQconninfoFree(options);
        }
        return PQsetnonblocking(connection, 1) == 0 || static_cast<bool>(Fail(error));
    }

    bool KnownSchema(std::string& error) {
        Result tables =
            Run("SELECT to_regclass('schema_version') IS NOT NULL AND "
                "to_regclass('units') IS NOT NULL, to_regclass('prefixes') IS NOT NULL",
                nullptr, error);
        if (!tables) return false;
        const bool made = Text(tables.get(), 0, 0) == "t";
        if (!made && !Run(kCreate, nullptr, error)) {
            error = "it has no tables yet, and this login may not create them: " + error;
            return false;
        }
        // A journal made by an earlier version gains the prefixes where the login may; where
        // it may not, the rows still go, and the prefix's check says why it cannot be made.
        if (made && Text(tables.get(), 0, 1) != "t") {
            std::string ignored;
            Run(kCreate, nullptr, ignored);
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
                "received_at = now() WHERE " +
                std::string(kKnowsMore);
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

bool Central::RefusedContent() const {
    // Data exceptions (an invalid byte sequence, a time out of range), a broken constraint, a
    // value too large: the row, not the link or the login.
    const std::string& state = impl_->sqlstate;
    return state.rfind("22", 0) == 0 || state.rfind("23", 0) == 0 || state.rfind("54", 0) == 0;
}

Central::Link Central::Security() const {
    return impl_->link;
}

bool Central::Claim(const std::string& prefix, const std::string& station, std::string& holder,
                    std::string& error) {
    try {
        Parameters parameters;
        parameters.Add(prefix);
        parameters.Add(station);
        // The claim made is not seen by the statement's own SELECT: one of the two answers.
        const Result result = impl_->Run(
            "WITH claimed AS (INSERT INTO prefixes (prefix, station) VALUES ($1, $2) "
            "ON CONFLICT (prefix) DO NOTHING RETURNING station) "
            "SELECT station FROM claimed UNION ALL SELECT station FROM prefixes WHERE prefix = $1",
            &parameters, error);
        if (!result) return false;
        holder = PQntuples(result.get()) > 0 ? Text(result.get(), 0, 0) : station;
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
    // sslpassword unlocks the client's key as password unlocks the login.
    bool password = false;
    for (const PQconninfoOption* option = options; option->keyword != nullptr; ++option) {
        if ((std::strcmp(option->keyword, "password") == 0 ||
             std::strcmp(option->keyword, "sslpassword") == 0) &&
            option->val != nullptr && option->val[0] != '\0') {
            password = true;
        }
    }
    PQconninfoFree(options);
    if (!password) return {};
    return "the connection string holds a password, which anyone listing the processes would "
           "see: put it in ~/.pgpass, PGPASSWORD or a service file (sslpassword in a service "
           "file)";
}

}  // namespace journal
