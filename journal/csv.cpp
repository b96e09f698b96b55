#include <charconv>

#include "journal/journal.h"

namespace journal {
namespace {

void AddField(std::string& out, std::string_view field) {
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += field;
        return;
    }
    out += '"';
    for (char c : field) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

// The shortest text that reads back as the same double, so that 21.3 is not 21.300000000000001.
std::string NumberText(double value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

}  // namespace

const std::vector<std::string>& ColumnNames() {
    static const std::vector<std::string> names = {
        "id",      "unit",           "batch",      "station",     "slot",     "operator",
        "profile", "profile_sha256", "started_at", "finished_at", "firmware", "as_found",
        "as_left", "cold_junction",  "verdict",    "error",       "tries",
    };
    return names;
}

std::string ShownVerdict(const UnitRow& row) {
    return row.verdict.empty() ? "interrupted" : row.verdict;
}

std::string RowsAsCsv(const std::vector<UnitRow>& rows) {
    std::string out;
    try {
        const char* separator = "";
        for (const std::string& name : ColumnNames()) {
            out += separator;
            AddField(out, name);
            separator = ",";
        }
        out += "\r\n";
        for (const UnitRow& row : rows) {
            const std::string cold_junction =
                row.cold_junction ? NumberText(*row.cold_junction) : std::string();
            const std::string tries = std::to_string(row.tries);
            const std::string verdict = ShownVerdict(row);
            const std::string_view fields[] = {
                row.id,         row.unit,          row.batch,    row.station,
                row.slot,       row.operator_name, row.profile,  row.profile_sha256,
                row.started_at, row.finished_at,   row.firmware, row.as_found,
                row.as_left,    cold_junction,     verdict,      row.error,
                tries,
            };
            separator = "";
            for (std::string_view field : fields) {
                out += separator;
                AddField(out, field);
                separator = ",";
            }
            out += "\r\n";
        }
    } catch (const std::exception&) {
        // Out of memory: an empty text, which no caller mistakes for a journal with rows.
        return {};
    }
    return out;
}

}  // namespace journal
