#pragma once

#include <optional>
#include <string>
#include <vector>

#include "journal/journal.h"

// What a unit's certificate, its label and a batch report say, taken from the journal's rows
// alone and made ready to show as text; the layouts decide only where it goes. Every value
// that came from a row is printable text by then (no control characters, valid UTF-8), so a row
// another program wrote cannot turn into commands on a page or a label.
namespace report {

// One line of as found beside as left.
struct ComparedField {
    std::string key;          // "sensor", "upper", "lower", "output", "fault"
    std::string found, left;  // empty where the reply did not carry it
    bool changed = false;
};

// The profile as a person reads it: "K", "-50 … 300 °C", "4-20 mA", "high", "on".
struct ProfileText {
    std::string sensor, range, output, fault, compensation;
};

struct UnitRecord {
    std::string unit, id, batch, station, slot, operator_name;
    std::string started_utc, finished_utc;  // "2026-12-08 10:42:05 UTC"
    std::string finished_date;              // "2026-12-08"
    std::string finished_iso;               // as the journal keeps it, the document's date
    std::string firmware;
    ProfileText profile;
    std::string profile_sha256;
    std::vector<ComparedField> fields;
    std::vector<std::string> not_compared;  // keys the firmware's reply does not carry
    std::string cold_junction;              // "23.4 °C"; empty when not read
    std::string adjusted_to;                // "25.0 °C" when the row shows an adjustment
    int tries = 0;
    std::string error;
    bool passed = false;
    std::string qr_text;  // the record's id and the profile's hash
};

// None, with the reason, for a unit that has no verdict yet.
std::optional<UnitRecord> UnitRecordOf(const journal::UnitRow& row, std::string& why);

struct BatchLine {
    std::string unit, slot;
    std::string started_utc, finished_utc;  // "2026-12-08 10:42:05", in UTC
    std::string verdict, reason;
};

struct BatchRecord {
    std::string batch;
    std::vector<ProfileText> profiles;  // one per profile the batch's units were given
    std::vector<std::string> profile_sha256s;
    std::string first_started_utc, last_finished_utc;
    std::string last_finished_iso;  // as the journal keeps it, the document's date
    std::vector<std::string> operators, stations;
    int units = 0, passed = 0, failed = 0, interrupted = 0;
    int passed_first_time = 0;  // passed with no step tried again
    std::vector<BatchLine> lines;
};

// None, with the reason, for a batch without units.
std::optional<BatchRecord> BatchRecordOf(const std::string& batch,
                                         const std::vector<journal::UnitRow>& rows,
                                         std::string& why);

// Text from outside as it may be shown: invalid UTF-8 and control characters become "?".
std::string PrintableText(const std::string& text);
// "2026-12-08T10:42:05.123Z" as "2026-12-08 10:42:05 UTC"; other text as it is.
std::string UtcText(const std::string& iso);
// "first-pass yield 96.0 %" as a number with one decimal; "—" for no units.
std::string PercentText(int part, int whole);

}  // namespace report
