#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The commissioning journal: one row per unit in the SQLite table `units`, a stable interface
// that people query with the sqlite3 shell and open as CSV. A row is committed before the
// first byte of its unit's write goes out and completed when the unit ends; a row left without
// a verdict (a crash, a power cut) reads as "interrupted" everywhere.
namespace journal {

struct UnitRow {
    std::string id;    // a random UUID, made by Begin when empty
    std::string unit;  // made by Begin: the station's prefix and a running number
    std::string batch;
    std::string station;         // the host name
    std::string slot;            // the port as the operator named it
    std::string operator_name;   // column `operator`
    std::string profile;         // the JSON written to the unit
    std::string profile_sha256;  // of `profile`, made by Begin when empty
    std::string started_at;      // UTC ISO 8601 with milliseconds, made by Begin when empty
    std::string finished_at;     // empty (NULL) while the unit runs
    std::string firmware;        // "1.0.3"; empty: NULL
    std::string as_found;        // JSON with the keys of `read --json`; empty: NULL
    std::string as_left;         // likewise
    std::optional<double> cold_junction;
    std::string verdict;  // "pass", "fail"; empty (NULL) while running: read as "interrupted"
    std::string error;    // empty: NULL
    int tries = 0;
    // Why the central journal refused the row as it stands (it is set aside, not sent again
    // until it changes); read only for Filter::set_aside.
    std::string central_refusal;
};

// What `journal` lists: every filter is optional; rows come oldest first (newest last).
struct Filter {
    std::string batch;
    std::string since;       // an ISO 8601 date or date and time, compared with started_at
    std::string verdict;     // "pass", "fail" or "interrupted"
    bool set_aside = false;  // only the rows the central journal refused
};

struct BatchSummary {
    std::string batch;
    int units = 0, passed = 0, failed = 0, interrupted = 0;
    std::string first_started_at, last_finished_at;
};

class Journal {
  public:
    // Opens or creates the journal at `path` (its folder too): WAL, synchronous=FULL, a busy
    // time-out so that two stations on one machine share the file. Refuses, with the reason, a
    // file on a network file system (NFS, SMB/CIFS; on Windows a UNC path or a network drive),
    // where SQLite's locking cannot be trusted. A new file and its folder are the user's alone.
    // Every wait on another station's transaction is cut short once `abandon` is non-zero (a
    // stop signal). Never throws.
    static std::unique_ptr<Journal> Open(const std::string& path, std::string& error,
                                         const std::atomic<int>* abandon = nullptr);
    // Opens a journal to list it and changes nothing: no file, table or mode is made, and one
    // that is not a journal of this program (no table units) is refused. Never throws.
    static std::unique_ptr<Journal> OpenToRead(const std::string& path, std::string& error,
                                               const std::atomic<int>* abandon = nullptr);
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // Inserts the row of a unit that starts, filling in what it makes (id, unit, sha256,
    // started_at); committed when it returns true. Safe from any thread.
    bool Begin(UnitRow& row, std::string& error);
    // Completes the row (finished_at made when empty) with everything else the row holds.
    bool Finish(UnitRow& row, std::string& error);

    std::vector<UnitRow> Rows(const Filter& filter, std::string& error);
    std::vector<BatchSummary> Summary(const Filter& filter, std::string& error);

    // The rows still to go to the central journal (new, or completed since they went), oldest
    // first, at most `limit`.
    std::vector<UnitRow> Waiting(int limit, std::string& error);
    // Notes the rows as forwarded, each unless it was completed after it was read; a row with a
    // central_refusal is set aside with it, until it is completed.
    bool MarkForwarded(const std::vector<UnitRow>& rows, std::string& error);
    // How many rows wait (or, with `set_aside`, are set aside); -1 when the journal cannot tell.
    int CountWaiting(std::string& error, bool set_aside = false);
    // Begin numbers units with this prefix (--unit-prefix) instead of the station's own.
    void UseUnitPrefix(const std::string& prefix);
    // The prefix Begin gives this station's units: --unit-prefix, else the one the station took
    // last in this journal, else a new one made from the host name (UnitPrefix).
    std::string UnitPrefixOf(const std::string& station, std::string& error);
    // Takes rows from another journal by id, in one transaction: a row not here is added, a row
    // here is replaced by one that knows more (an end time, a verdict, an error, as-found or
    // as-left) and never by one that knows less, so that merging the same rows twice changes
    // nothing. `changed`: how many were added or completed.
    bool Merge(const std::vector<UnitRow>& rows, int& changed, std::string& error);

  private:
    struct Impl;
    explicit Journal(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// Every row of the journal file at `path`, oldest first, read without changing the file (which
// may come from another station, or from an older or a Windows build of this program).
bool ReadJournalFile(const std::string& path, std::vector<UnitRow>& rows, std::string& error,
                     const std::atomic<int>* abandon = nullptr);

// $XDG_DATA_HOME/transmitter-configurator/journal.sqlite3, else
// ~/.local/share/transmitter-configurator/journal.sqlite3; on Windows
// %LOCALAPPDATA%\transmitter-configurator\journal.sqlite3. Empty when none can be found.
std::string DefaultJournalPath();

// "2026-12-07T10:42:05.123Z"
std::string UtcNow();
std::string Sha256Hex(std::string_view bytes);
// "interrupted" for a row without a verdict.
std::string ShownVerdict(const UnitRow& row);

// The column names in table order, as CSV headers and JSON keys take them.
const std::vector<std::string>& ColumnNames();
// RFC 4180: a header row, then one line per row, CRLF line ends, UTF-8, fields quoted where
// they hold a comma, a quote or a line end; NULL is an empty field; verdict as ShownVerdict.
std::string RowsAsCsv(const std::vector<UnitRow>& rows);

}  // namespace journal
