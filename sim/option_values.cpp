#include "sim/option_values.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace sim {

std::optional<std::array<std::uint8_t, 3>> ParseVersionOption(const std::string& text) {
    unsigned parts[3];
    char tail = 0;
    if (std::sscanf(text.c_str(), "%u.%u.%u%c", &parts[0], &parts[1], &parts[2], &tail) != 3) {
        return std::nullopt;
    }
    std::array<std::uint8_t, 3> version{};
    for (int i = 0; i < 3; ++i) {
        if (parts[i] > 255) return std::nullopt;
        version[i] = static_cast<std::uint8_t>(parts[i]);
    }
    return version;
}

std::optional<std::int16_t> ParseTenthsOption(const std::string& text) {
    char* end = nullptr;
    const double degrees = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || !std::isfinite(degrees)) return std::nullopt;
    const long tenths = std::lround(degrees * 10);
    if (tenths < -32768 || tenths > 32767) return std::nullopt;
    return static_cast<std::int16_t>(tenths);
}

std::optional<std::chrono::milliseconds> ParseMillisecondsOption(const std::string& text) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str() || *end != '\0' || value < 0) return std::nullopt;
    return std::chrono::milliseconds(value);
}

}  // namespace sim
