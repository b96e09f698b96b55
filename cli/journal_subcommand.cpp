#include <algorithm>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/central_link.h"
#include "cli/station_display.h"
#include "cli/subcommands.h"
#include "cli/unit_record.h"
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
    if (!journal::ReadJournalFile(request.import_file, rows, error)) {
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

}  // namespace

int RunJournal(const Session& session, const Request& request) {
    std::string central;
    if (auto code = CentralUrl(session, request, false, central)) return *code;
    std::optional<JournalSource> source;
    if (!central.empty()) {
        source = CentralSource(session, central);
        if (!source) return kExitDevice;
    } else {
        // Listing never makes a journal: a mistyped name would list nothing, as if it were
        // empty. An import makes the journal it imports into.
        const std::string path = JournalPath(request);
        std::error_code missing;
        if (request.import_file.empty() &&
            !std::filesystem::exists(std::filesystem::path(std::u8string(path.begin(), path.end())),
                                     missing)) {
            return session.Fail(kExitUsage, "no journal at " + path);
        }
        std::shared_ptr<journal::Journal> journal = OpenJournal(session, request);
        if (!journal) return kExitUsage;
        source = LocalSource(std::move(journal));
    }
    if (!request.import_file.empty()) return Import(session, request, *source);
    std::string error;
    const journal::Filter filter{request.batch, request.since, request.verdict};

    if (request.summary) {
        const std::vector<journal::BatchSummary> batches = source->summary(filter, error);
        if (!error.empty()) return session.Fail(kExitDevice, error);
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
                                       {"last_finished_at", batch.last_finished_at}});
            }
            table.push_back({batch.batch, std::to_string(batch.units), std::to_string(batch.passed),
                             std::to_string(batch.failed), std::to_string(batch.interrupted),
                             batch.first_started_at, batch.last_finished_at});
        }
        if (!session.json) PrintTable(session, table);
        return kExitOk;
    }

    const std::vector<journal::UnitRow> rows = source->rows(filter, error);
    if (!error.empty()) return session.Fail(kExitDevice, error);
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
        for (const journal::UnitRow& row : rows) session.PrintJson(UnitJson(row));
        return kExitOk;
    }
    std::vector<std::vector<std::string>> table{
        {"UNIT", "STARTED", "BATCH", "SLOT", "FIRMWARE", "VERDICT", "ERROR"}};
    for (const journal::UnitRow& row : rows) {
        table.push_back({row.unit, row.started_at, row.batch, row.slot, row.firmware,
                         journal::ShownVerdict(row), row.error});
    }
    PrintTable(session, table);
    return kExitOk;
}
