#include "journal/unit_fields.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <random>

#include "journal/journal.h"

namespace journal {

std::string NewUuid() {
    std::random_device device;
    unsigned char bytes[16];
    for (int i = 0; i < 16; i += 4) {
        const std::uint32_t random = device();
        for (int j = 0; j < 4; ++j) bytes[i + j] = static_cast<unsigned char>(random >> (8 * j));
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
        text += kHex[bytes[i] >> 4];
        text += kHex[bytes[i] & 0xF];
    }
    return text;
}

std::string UnitPrefix(const std::string& station) {
    std::string prefix;
    for (char c : station) {
        if (prefix.size() == 6) break;
        // ASCII only: the operator writes the number on the unit by hand.
        if (c >= 'a' && c <= 'z') prefix += static_cast<char>(c - 'a' + 'A');
        if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) prefix += c;
    }
    return prefix.empty() ? "ST" : prefix;
}

std::string RunningNumber(std::int64_t number) {
    std::string digits = std::to_string(number);
    if (digits.size() < 4) digits.insert(0, 4 - digits.size(), '0');
    return digits;
}

std::string UtcNow() {
    try {
        using namespace std::chrono;
        const auto now = system_clock::now();
        const auto seconds = floor<std::chrono::seconds>(now);
        const auto milliseconds = duration_cast<std::chrono::milliseconds>(now - seconds).count();
        const std::time_t time = system_clock::to_time_t(seconds);
        std::tm utc{};
#ifdef _WIN32
        gmtime_s(&utc, &time);
#else
        gmtime_r(&time, &utc);
#endif
        char text[64];
        std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                      utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                      static_cast<int>(milliseconds));
        return text;
    } catch (const std::exception&) {
        return {};
    }
}

}  // namespace journal
