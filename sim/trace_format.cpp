#include "sim/trace_format.h"

#include <cstdio>
#include <cstdlib>

namespace sim {

std::string HexBytes(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return "-";
    std::string text;
    for (std::uint8_t byte : bytes) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned>(byte));
        if (!text.empty()) text += ' ';
        text += digits;
    }
    return text;
}

std::string DegreesFromTenths(int tenths) {
    const int magnitude = std::abs(tenths);
    return (tenths < 0 ? "-" : "") + std::to_string(magnitude / 10) + '.' +
           std::to_string(magnitude % 10);
}

std::string TraceLine(const TraceEntry& entry, std::chrono::steady_clock::time_point start) {
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(entry.when - start).count();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%5lld.%03lld", static_cast<long long>(elapsed / 1000),
                  static_cast<long long>(elapsed % 1000));
    return std::string(stamp) + "  in: " + HexBytes(entry.received) +
           "  out: " + HexBytes(entry.replied) + "  " + entry.description;
}

}  // namespace sim
