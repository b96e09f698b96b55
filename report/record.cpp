#include "report/record.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <set>

namespace report {
namespace {

using Json = nlohmann::json;

Json Parsed(const std::string& text) {
    if (text.empty()) return Json::object();
    Json json = Json::parse(text, nullptr, false);
    return json.is_object() ? json : Json::object();
}

// A value of a row's JSON as text; empty when the key is not there.
std::string ValueText(const Json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end()) return {};
    if (found->is_string()) return PrintableText(found->get<std::string>());
    if (found->is_null()) return "?";
    return PrintableText(found->dump());
}

ProfileText ProfileOf(const std::string& profile) {
    const Json json = Parsed(profile);
    ProfileText text;
    text.sensor = ValueText(json, "sensor");
    const std::string lower = ValueText(json, "lower"), upper = ValueText(json, "upper");
    if (!lower.empty() || !upper.empty()) text.range = lower + " … " + upper + " °C";
    text.output = ValueText(json, "output");
    if (!text.output.empty()) text.output += " mA";
    text.fault = ValueText(json, "fault");
    text.compensation = ValueText(json, "compensation");
    return text;
}

// How the station says it adjusted a unit that then read too far off.
std::string AdjustedTo(const std::string& error) {
    const std::string marker = "after adjusting to ";
    const std::size_t at = error.find(marker);
    if (at == std::string::npos) return {};
    const std::size_t from = at + marker.size();
    const std::size_t end = error.find_first_not_of("-0123456789.", from);
    const std::string degrees = error.substr(from, end == std::string::npos ? end : end - from);
    return degrees.empty() ? std::string() : degrees + " °C";
}

void AddOnce(std::vector<std::string>& list, const std::string& value) {
    if (std::find(list.begin(), list.end(), value) == list.end()) list.push_back(value);
}

}  // namespace

std::string PrintableText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        std::size_t length = byte < 0x80           ? 1
                             : (byte >> 5) == 0x6  ? 2
                             : (byte >> 4) == 0xE  ? 3
                             : (byte >> 3) == 0x1E ? 4
                                                   : 0;
        std::uint32_t code = length == 1   ? byte
                             : length == 2 ? byte & 0x1F
                             : length == 3 ? byte & 0x0F
                                           : byte & 0x07;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0;
            if ((next & 0xC0) != 0x80) {
                length = 0;
                break;
            }
            code = (code << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and what lies past Unicode are no characters either.
        static constexpr std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (length == 0 || code < kSmallest[length] || (code >= 0xD800 && code < 0xE000) ||
            code > 0x10FFFF || code < 0x20 || (code >= 0x7F && code < 0xA0)) {
            out += '?';
            i += length == 0 ? 1 : length;
            continue;
        }
        out.append(text, i, length);
        i += length;
    }
    return out;
}

std::string UtcText(const std::string& iso) {
    // 2026-12-08T10:42:05.123Z
    if (iso.size() < 20 || iso[10] != 'T' || iso.back() != 'Z') return PrintableText(iso);
    return PrintableText(iso.substr(0, 10) + " " + iso.substr(11, 8) + " UTC");
}

std::string PercentText(int part, int whole) {
    if (whole <= 0) return "—";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %%", 100.0 * part / whole);
    return text;
}

std::optional<UnitRecord> UnitRecordOf(const journal::UnitRow& row, std::string& why) {
    if (row.verdict.empty()) {
        why = "unit " + PrintableText(row.unit) +
              " has no verdict (it is running, or was interrupted): nothing is made of it yet";
        return std::nullopt;
    }
    UnitRecord record;
    record.unit = PrintableText(row.unit);
    record.id = PrintableText(row.id);
    record.batch = PrintableText(row.batch);
    record.station = PrintableText(row.station);
    record.slot = PrintableText(row.slot);
    record.operator_name = PrintableText(row.operator_name);
    record.started_utc = UtcText(row.started_at);
    record.finished_utc = UtcText(row.finished_at);
    record.finished_date = PrintableText(row.finished_at.substr(0, 10));
    record.finished_iso = PrintableText(row.finished_at);
    record.firmware = PrintableText(row.firmware);
    record.profile = ProfileOf(row.profile);
    record.profile_sha256 = PrintableText(row.profile_sha256);
    const Json found = Parsed(row.as_found), left = Parsed(row.as_left);
    for (const char* key : {"sensor", "upper", "lower", "output", "fault"}) {
        ComparedField field{key, ValueText(found, key), ValueText(left, key), false};
        field.changed = !field.found.empty() && !field.left.empty() && field.found != field.left;
        if (field.left.empty() && !row.as_left.empty()) record.not_compared.push_back(key);
        record.fields.push_back(std::move(field));
    }
    if (row.cold_junction) {
        char text[32];
        std::snprintf(text, sizeof text, "%.1f °C", *row.cold_junction);
        record.cold_junction = text;
    }
    record.adjusted_to = AdjustedTo(row.error);
    record.tries = row.tries;
    record.error = PrintableText(row.error);
    record.passed = row.verdict == "pass";
    record.qr_text = record.id + " " + record.profile_sha256;
    return record;
}

std::optional<BatchRecord> BatchRecordOf(const std::string& batch,
                                         const std::vector<journal::UnitRow>& rows,
                                         std::string& why) {
    BatchRecord record;
    record.batch = PrintableText(batch);
    std::set<std::string> hashes;
    for (const journal::UnitRow& row : rows) {
        if (row.batch != batch) continue;
        ++record.units;
        if (row.verdict == "pass") {
            ++record.passed;
            if (row.tries <= 1) ++record.passed_first_time;
        } else if (row.verdict == "fail") {
            ++record.failed;
        } else {
            ++record.interrupted;
        }
        if (hashes.insert(row.profile_sha256).second) {
            record.profiles.push_back(ProfileOf(row.profile));
            record.profile_sha256s.push_back(PrintableText(row.profile_sha256));
        }
        // ISO 8601 in UTC sorts as it reads.
        if (record.first_started_utc.empty() || row.started_at < record.first_started_utc) {
            record.first_started_utc = row.started_at;
        }
        if (row.finished_at > record.last_finished_utc) record.last_finished_utc = row.finished_at;
        AddOnce(record.operators, PrintableText(row.operator_name));
        AddOnce(record.stations, PrintableText(row.station));
        const auto time = [](const std::string& iso) {
            const std::string text = UtcText(iso);
            return text.size() > 4 && text.ends_with(" UTC") ? text.substr(0, text.size() - 4)
                                                             : text;
        };
        record.lines.push_back(BatchLine{PrintableText(row.unit), PrintableText(row.slot),
                                         time(row.started_at), time(row.finished_at),
                                         journal::ShownVerdict(row), PrintableText(row.error)});
    }
    if (record.units == 0) {
        why = "the journal has no unit of batch " + record.batch;
        return std::nullopt;
    }
    record.last_finished_iso = PrintableText(record.last_finished_utc);
    record.first_started_utc = UtcText(record.first_started_utc);
    record.last_finished_utc = UtcText(record.last_finished_utc);
    return record;
}

}  // namespace report
