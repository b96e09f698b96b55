#include "device/write_entry.h"

#include <cstddef>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>

#include "device/protocol.h"
#include "device/sensor_names.h"
#include "serial/device_path.h"

namespace {

using Json = nlohmann::json;

std::optional<std::uint8_t> ByteOfWord(const SettingWords& words, std::string_view word) {
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (words[i] == word) return static_cast<std::uint8_t>(i);
    }
    return std::nullopt;
}

// A field of the file: left as it is when null; an error when it has the wrong type.
std::optional<std::string> TakeField(const Json& value, const std::string& key,
                                     std::optional<std::string>& field) {
    if (value.is_null()) return std::nullopt;
    if (!value.is_string()) return key + " must be a string";
    field = value.get<std::string>();
    return std::nullopt;
}

std::optional<std::string> TakeField(const Json& value, const std::string& key,
                                     std::optional<std::int32_t>& field) {
    if (value.is_null()) return std::nullopt;
    constexpr std::int64_t kLeast = std::numeric_limits<std::int32_t>::min();
    constexpr std::int64_t kMost = std::numeric_limits<std::int32_t>::max();
    // An unsigned number past the signed range would come back negative from get<int64_t>.
    const bool fits = value.is_number_unsigned()
                          ? value.get<std::uint64_t>() <= static_cast<std::uint64_t>(kMost)
                          : value.is_number_integer() && value.get<std::int64_t>() >= kLeast &&
                                value.get<std::int64_t>() <= kMost;
    if (!fits) return key + " must be a whole number of degrees";
    field = static_cast<std::int32_t>(value.get<std::int64_t>());
    return std::nullopt;
}

// The profile's text as UTF-8: Windows PowerShell 5.1 saves redirected output as UTF-16 with a
// byte-order mark, and Notepad may put one before UTF-8.
std::string Utf8Profile(std::string_view bytes) {
    const auto starts = [bytes](std::string_view mark) {
        return bytes.substr(0, mark.size()) == mark;
    };
    if (starts("\xEF\xBB\xBF")) return std::string(bytes.substr(3));
    const bool little = starts("\xFF\xFE");
    if (!little && !starts("\xFE\xFF")) return std::string(bytes);
    std::u16string units;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        const auto first = static_cast<std::uint8_t>(bytes[i]);
        const auto second = static_cast<std::uint8_t>(bytes[i + 1]);
        units += static_cast<char16_t>(little ? first | second << 8 : first << 8 | second);
    }
    // A byte left over is half a character.
    if (bytes.size() % 2 != 0) units += u'\uFFFD';
    return Utf8FromUtf16(units);
}

std::optional<std::string> TakeWord(const SettingWords& words, std::string_view field,
                                    const std::string& word, std::uint8_t& byte) {
    if (const auto value = ByteOfWord(words, word)) {
        byte = *value;
        return std::nullopt;
    }
    return std::string(field) + " " + word + " is neither " + std::string(words[0]) + " nor " +
           std::string(words[1]);
}

}  // namespace

std::optional<std::string> WordOfByte(const SettingWords& words, std::uint8_t byte) {
    if (byte < words.size()) return std::string(words[byte]);
    return std::nullopt;
}

std::string ShownByte(const SettingWords& words, std::uint8_t byte) {
    return WordOfByte(words, byte).value_or("?" + std::to_string(byte));
}

std::string SensorText(std::uint8_t code) {
    if (const auto name = SensorNameForCode(code)) return std::string(*name);
    return "code-" + std::to_string(code);
}

std::int32_t SignedLower(const DeviceConfiguration& configuration) {
    return configuration.lower_negative ? -configuration.lower_magnitude
                                        : configuration.lower_magnitude;
}

std::string ConfigurationJson(const std::string& port, const FirmwareVersion& firmware,
                              const DeviceConfiguration& configuration) {
    const auto word = [](const SettingWords& words, std::uint8_t byte) -> nlohmann::ordered_json {
        if (const auto text = WordOfByte(words, byte)) return *text;
        return nullptr;
    };
    nlohmann::ordered_json object{{"port", port},
                                  {"firmware", FirmwareText(firmware)},
                                  {"sensor", SensorText(configuration.sensor_code)},
                                  {"upper", configuration.upper},
                                  {"lower", SignedLower(configuration)}};
    // An 11-byte reply holds neither.
    if (configuration.output) object["output"] = word(kOutputWords, *configuration.output);
    if (configuration.fault) object["fault"] = word(kFaultWords, *configuration.fault);
    return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::optional<std::string> TakeWriteEntry(std::string_view bytes, const std::string& source,
                                          WriteEntry& entry) {
    const std::string text = Utf8Profile(bytes);
    // A key written twice would otherwise be settled silently by its last value: a profile
    // that contradicts itself is no profile.
    std::set<std::string> keys;
    std::optional<std::string> repeated;
    const auto note_key = [&](int depth, Json::parse_event_t event, Json& parsed) {
        if (event == Json::parse_event_t::key && depth == 1 && !repeated &&
            !keys.insert(parsed.get<std::string>()).second) {
            repeated = parsed.get<std::string>();
        }
        return true;
    };
    const Json object = Json::parse(text, note_key, false);
    if (object.is_discarded()) return source + " does not hold JSON";
    if (repeated) return source + ": key \"" + *repeated + "\" is given twice";
    if (!object.is_object()) return source + " does not hold a JSON object";
    for (const auto& [key, value] : object.items()) {
        std::optional<std::string> error;
        if (key == "port" || key == "firmware") continue;
        if (key == "sensor") {
            error = TakeField(value, key, entry.sensor);
        } else if (key == "upper") {
            error = TakeField(value, key, entry.upper);
        } else if (key == "lower") {
            error = TakeField(value, key, entry.lower);
        } else if (key == "output") {
            error = TakeField(value, key, entry.output);
        } else if (key == "fault") {
            error = TakeField(value, key, entry.fault);
        } else if (key == "compensation") {
            error = TakeField(value, key, entry.compensation);
        } else {
            error = "unknown key \"" + key + "\"";
        }
        if (error) return source + ": " + *error;
    }
    return std::nullopt;
}

std::optional<std::string> EntryRefusal(const WriteEntry& entry, CheckedEntry& checked) {
    std::string missing;
    const auto need = [&missing](bool present, std::string_view option) {
        if (!present) missing += (missing.empty() ? "--" : ", --") + std::string(option);
    };
    need(entry.sensor.has_value(), "sensor");
    need(entry.upper.has_value(), "upper");
    need(entry.lower.has_value(), "lower");
    need(entry.output.has_value(), "output");
    need(entry.fault.has_value(), "fault");
    need(entry.compensation.has_value(), "compensation");
    if (!missing.empty()) return "missing " + missing;

    const std::optional<std::uint8_t> code = SensorCodeForName(*entry.sensor);
    const SensorType* type = code ? SensorTypeForCode(*code) : nullptr;
    if (type == nullptr) {
        return "unknown sensor " + *entry.sensor + " (known: " + SensorNameList() + ")";
    }
    checked.sensor_code = *code;
    if (auto error = TakeWord(kOutputWords, "output", *entry.output, checked.output)) return error;
    if (auto error = TakeWord(kFaultWords, "fault", *entry.fault, checked.fault)) return error;
    if (auto error = TakeWord(kCompensationWords, "compensation", *entry.compensation,
                              checked.compensation)) {
        return error;
    }

    const std::string name = SensorText(*code);
    const std::int32_t upper = checked.upper = *entry.upper;
    const std::int32_t lower = checked.lower = *entry.lower;
    if (upper < 0) return "upper limit " + std::to_string(upper) + " is negative";
    // A negative lower limit is below any upper one; a positive one goes out as it is.
    if (lower >= 0 && lower > upper) {
        return "lower limit " + std::to_string(lower) + " is above the upper limit " +
               std::to_string(upper);
    }
    if (upper > type->upper_max) {
        return "upper limit " + std::to_string(upper) + " is above the " + name +
               " sensor's maximum of " + std::to_string(type->upper_max);
    }
    // Widened first: the most negative 32-bit number has no positive counterpart.
    if (lower < 0 && -std::int64_t{lower} > type->negative_lower_max) {
        return "lower limit " + std::to_string(lower) + " is below the " + name +
               " sensor's minimum of " + std::to_string(-type->negative_lower_max);
    }
    return std::nullopt;
}

std::string ReadBackDifferences(const CheckedEntry& wrote, const DeviceConfiguration& reads) {
    std::string text;
    const auto differ = [&text](std::string_view field, const std::string& read,
                                const std::string& written) {
        if (read == written) return;
        text += (text.empty() ? "" : "; ") + std::string(field) + " reads " + read + ", wrote " +
                written;
    };
    differ("sensor", SensorText(reads.sensor_code), SensorText(wrote.sensor_code));
    differ("upper", std::to_string(reads.upper), std::to_string(wrote.upper));
    differ("lower", std::to_string(SignedLower(reads)), std::to_string(wrote.lower));
    if (reads.output) {
        differ("output", ShownByte(kOutputWords, *reads.output),
               ShownByte(kOutputWords, wrote.output));
    }
    if (reads.fault) {
        differ("fault", ShownByte(kFaultWords, *reads.fault), ShownByte(kFaultWords, wrote.fault));
    }
    return text;
}
