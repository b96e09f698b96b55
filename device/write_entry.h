#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "device/exchange.h"

// The words of a configuration's setting bytes, by the byte's value.
using SettingWords = std::array<std::string_view, 2>;
inline constexpr SettingWords kOutputWords{"4-20", "0-20"};
inline constexpr SettingWords kFaultWords{"low", "high"};
inline constexpr SettingWords kCompensationWords{"on", "off"};

// None for a byte that has no word.
std::optional<std::string> WordOfByte(const SettingWords& words, std::uint8_t byte);
// As a text line shows the byte: "?7" for one that has no word.
std::string ShownByte(const SettingWords& words, std::uint8_t byte);
// The sensor's name; "code-12" for a code outside the table.
std::string SensorText(std::uint8_t code);
// The lower limit with its sign.
std::int32_t SignedLower(const DeviceConfiguration& configuration);

// The configuration as `read --json` prints it, one line: port, firmware, sensor, upper, lower,
// and output and fault where the reply holds them (null for a byte without a word).
std::string ConfigurationJson(const std::string& port, const FirmwareVersion& firmware,
                              const DeviceConfiguration& configuration);

// The configuration `write` is asked for, each field from an option or from the file.
struct WriteEntry {
    std::optional<std::string> sensor;
    std::optional<std::int32_t> upper;
    std::optional<std::int32_t> lower;
    std::optional<std::string> output;
    std::optional<std::string> fault;
    std::optional<std::string> compensation;
};

// Takes the fields of `bytes`, the JSON `read --json` prints, in UTF-8 or in UTF-16 with a
// byte-order mark; its `port` and `firmware` are where it was read, not what to write. An error
// naming `source` when the text is not such JSON or gives a key twice.
std::optional<std::string> TakeWriteEntry(std::string_view bytes, const std::string& source,
                                          WriteEntry& entry);

// The entry as it goes out: every field present, known and within the sensor's limits.
struct CheckedEntry {
    std::uint8_t sensor_code = 0;
    std::int32_t upper = 0;
    std::int32_t lower = 0;  // with its sign
    std::uint8_t output = 0;
    std::uint8_t fault = 0;
    std::uint8_t compensation = 0;
};

// Why the device must not be given the entry, judged as the window's configuration entry judges
// it and against the same sensor table: one line naming the field or the limit and why. None,
// with `checked` filled in, when it may.
std::optional<std::string> EntryRefusal(const WriteEntry& entry, CheckedEntry& checked);

// Each field the read-back differs in, "upper reads 250, wrote 300; fault reads low, wrote
// high"; empty when none does. Output and fault count only when the reply holds them.
std::string ReadBackDifferences(const CheckedEntry& wrote, const DeviceConfiguration& reads);
