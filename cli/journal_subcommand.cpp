#include <algorithm>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/central_link.h"
#include "cli/station_display.h"
#include "cli/subcommands.h"
#include "cli/unit_record.h"
#include "journal/filter.h"
#include "journal/journal_path.h"
#include "journal/shown_text.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#endif

namespace {

// The columns a person reads at a glance; --json and --csv give them all. A row's text may come
// from another program: it is shown escaped, and padded by the columns it takes on a terminal.
std::string TableLine(const std::vector<std::string>& fields,
                      const std::vector<std::size_t>& widths) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        line +=
            i + 1 < fields.size() ? journal::PaddedToWidth(fields[i], widths[i] + 2) : fields[i];
    }
    return line.erase(line.find_last_not_of(' ') + 1);
}

void PrintTable(const Session& session, std::vector<std::vector<std::string>> rows) {
    if (rows.empty()) return;
    std::vector<std::size_t> widths(rows.front().size(), 0);
    for (auto& row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            row[i] = journal::Escaped(row[i]);
            widths[i] = std::max(widths[i], journal::DisplayWidth(row[i]));
        }
    }
    for (const auto& row : rows) session.Print(TableLine(row, widths));
}

// Merges another station's journal file into `into`, by id, so that the same file twice
// changes nothing.
int Import(const Session& session, const Request& request, const JournalSource& into) {
    if (std::string refusal = journal::JournalFileRefusal(request.import_file); !refusal.empty()) {
        return session.Fail(kExitUsage, "cannot import: " + refusal);
    }
    std::vector<journal::UnitRow> rows;
    std::string error;
    if (!journal::ReadJournalFile(request.import_file, rows, error, session.link.stop)) {
        return session.Fail(kExitUsage, "cannot import " + request.import_file + ": " + error);
    }
    int changed = 0;
    if (!into.merge(rows, changed, error)) {
        return session.Fail(kExitDevice, "cannot import " + request.import_file + ": " + error);
    }
    if (session.json) {
        session.PrintJson(Json{{"file", request.import_file},
                               {"units", rows.size()},
                               {"added_or_completed", changed}});
    } else {
        session.Print(request.import_file + ": " + std::to_string(rows.size()) + " units, " +
                      std::to_string(changed) + " added or completed");
    }
    return kExitOk;
}

// The stopping signal's exit code once Ctrl+C (or another stop) has cut a wait short.
std::optional<int> Stopped(const Session& session) {
    const int signal = session.link.stop != nullptr ? session.link.stop->load() : 0;
    if (signal == 0) return std::nullopt;
    return 128 + signal;
}

int Failed(const Session& session, const std::string& error) {
    const int code = session.Fail(kExitDevice, error);
    return Stopped(session).value_or(code);
}

}  // namespace

int RunJournal(const Session& session, const Request& request) {
    std::string central;
    if (auto code = CentralUrl(session, request, false, central)) return *code;
    const journal::Filter filter{request.batch, request.since, request.verdict, request.set_aside};
    std::string error, since;
    if (!journal::CheckedFilter(filter, since, error)) return session.Fail(kExitUsage, error);
    if (request.set_aside && !central.empty()) {
        return session.Fail(kExitUsage,
                            "--set-aside lists the rows a station's own journal set "
                            "aside: not with --central");
    }
    std::optional<JournalSource> source;
    if (!central.empty()) {
        source = CentralSource(session, central);
        if (!source) return Stopped(session).value_or(kExitDevice);
    } else if (!request.import_file.empty()) {
        // An import makes the journal it imports into.
        std::shared_ptr<journal::Journal> journal = OpenJournal(session, request);
        if (!journal) return kExitUsage;
        source = LocalSource(std::move(journal));
    } else {
        std::shared_ptr<journal::Journal> journal = ReadJournal(session, request);
        if (!journal) return kExitUsage;
        source = LocalSource(std::move(journal));
    }
    if (!request.import_file.empty()) return Import(session, request, *source);

    if (request.summary) {
        const std::vector<journal::BatchSummary> batches = source->summary(filter, error);
        if (!error.empty()) return Failed(session, error);
        std::vector<std::vector<std::string>> table{
            {"BATCH", "UNITS", "PASSED", "FAILED", "INTERRUPTED", "FIRST", "LAST"}};
        for (const journal::BatchSummary& batch : batches) {
            if (session.json) {
                session.PrintJson(Json{{"batch", batch.batch},
                                       {"units", batch.units},
                                       {"passed", batch.passed},
                                       {"failed", batch.failed},
                                       {"interrupted", batch.interrupted},
                                       {"first_started_at", batch.first_started_at},
                                       {"last_finished_at", batch.last_finished_at.empty()
                                                                ? Json(nullptr)
                                                                : Json(batch.last_finished_at)}});
            }
            table.push_back({batch.batch, std::to_string(batch.units), std::to_string(batch.passed),
                             std::to_string(batch.failed), std::to_string(batch.interrupted),
                             batch.first_started_at, batch.last_finished_at});
        }
        if (!session.json) PrintTable(session, table);
        return kExitOk;
    }

    const std::vector<journal::UnitRow> rows = source->rows(filter, error);
    if (!error.empty()) return Failed(session, error);
    if (request.csv) {
#ifdef _WIN32
        // Its lines end in CR LF already; Windows' text mode would put a second CR before LF.
        if (&session.io.out == &std::cout) {
            std::cout.flush();
            _setmode(_fileno(stdout), _O_BINARY);
        }
#endif
        session.io.out << journal::RowsAsCsv(rows);
        return kExitOk;
    }
    if (session.json) {
        for (const journal::UnitRow& row : rows) {
            Json json = UnitJson(row);
            if (request.set_aside) json["central_refusal"] = row.central_refusal;
            session.PrintJson(json);
        }
        return kExitOk;
    }
    // The central journal holds every station's units; a number tells them apart only with
    // its station.
    const bool stations = !central.empty();
    std::vector<std::vector<std::string>> table{
        {"UNIT", "STARTED", "BATCH", "SLOT", "FIRMWARE", "VERDICT", "ERROR"}};
    if (stations) table[0].insert(table[0].begin() + 1, "STATION");
    if (request.set_aside) table[0].push_back("REFUSED BY THE CENTRAL JOURNAL");
    for (const journal::UnitRow& row : rows) {
        table.push_back({row.unit, row.started_at, row.batch, row.slot, row.firmware,
                         journal::ShownVerdict(row), row.error});
        if (stations) table.back().insert(table.back().begin() + 1, row.station);
        if (request.set_aside) table.back().push_back(row.central_refusal);
    }
    PrintTable(session, table);
    return kExitOk;
}
