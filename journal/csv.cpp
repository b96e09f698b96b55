#include <charconv>
#include <string_view>

#include "journal/journal.h"

namespace journal {
namespace {

// The length of the UTF-8 sequence that starts `text`; 0 when it is none (a stray byte, an
// overlong form, a surrogate, beyond U+10FFFF, or cut short).
std::size_t SequenceLength(std::string_view text) {
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return 1;
    const std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                               : lead >= 0xE0 && lead <= 0xEF ? 3
                               : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                              : 0;
    if (length == 0 || text.size() < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return 0;
    }
    const unsigned char second = byte(1);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
        (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F)) {
        return 0;
    }
    return length;
}

// A row from another program may hold bytes that are no UTF-8; the file is said to be UTF-8,
// so each becomes U+FFFD, as in the JSON output.
std::string ValidUtf8(std::string_view text) {
    std::string valid;
    while (!text.empty()) {
        const std::size_t length = SequenceLength(text);
        valid += length == 0 ? std::string_view("\xEF\xBF\xBD") : text.substr(0, length);
        text.remove_prefix(length == 0 ? 1 : length);
    }
    return valid;
}

// A text cell that a spreadsheet would take for a formula gets a leading apostrophe, which
// makes it show as text.
void AddField(std::string& out, std::string_view raw, bool number = false) {
    std::string field = ValidUtf8(raw);
    if (!number && !field.empty() &&
        std::string_view("=+-@\t\r").find(field[0]) != std::string::npos) {
        field.insert(0, 1, '\'');
    }
    if (field.find_first_of(",\"\r\n") == std::string::npos) {
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
            for (std::size_t i = 0; i < std::size(fields); ++i) {
                out += separator;
                // cold_junction and tries: numbers, which a minus sign leaves numbers.
                AddField(out, fields[i], i == 13 || i == 16);
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
