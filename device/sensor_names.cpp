#include "device/sensor_names.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <string>

namespace {

// Indexed by code; the window's own list texts are Russian and leave the PT1000's blank.
constexpr std::array<std::string_view, kSensorTypeCount> kNames{
    "WRe5-26", "PT100", "S", "K", "N", "PT1000", "T", "Cu50", "J"};

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

}  // namespace

std::optional<std::string_view> SensorNameForCode(std::uint8_t code) {
    if (code >= kNames.size()) return std::nullopt;
    return kNames[code];
}

std::optional<std::uint8_t> SensorCodeForName(std::string_view name) {
    for (std::size_t code = 0; code < kNames.size(); ++code) {
        if (EqualIgnoringCase(name, kNames[code])) return static_cast<std::uint8_t>(code);
    }
    return std::nullopt;
}

std::string SensorNameList() {
    std::string list;
    for (std::string_view name : kNames) {
        if (!list.empty()) list += ", ";
        list += name;
    }
    return list;
}
