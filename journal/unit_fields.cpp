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
    // Russian letters as they are written in Latin ones, U+0410 to U+044F in order, lower case
    // alike.
    static constexpr const char* kLatin[] = {
        "A", "B", "V", "G", "D", "E",  "ZH", "Z",  "I",  "Y",   "K", "L", "M", "N", "O",  "P",
        "R", "S", "T", "U", "F", "KH", "TS", "CH", "SH", "SCH", "",  "Y", "",  "E", "YU", "YA"};
    std::string letters;
    // The host's own name, not its domain: "bench-1.lab" and "bench-1" number alike.
    const std::string name = station.substr(0, station.find('.'));
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        // ASCII only: the operator writes the number on the unit by hand.
        if (c >= 'a' && c <= 'z') letters += static_cast<char>(c - 'a' + 'A');
        if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) letters += static_cast<char>(c);
        if ((c == 0xD0 || c == 0xD1) && i + 1 < name.size()) {
            const int code = ((c & 0x1F) << 6) | (static_cast<unsigned char>(name[i + 1]) & 0x3F);
            if (code == 0x401 || code == 0x451) letters += "E";
            if (code >= 0x410 && code <= 0x44F) letters += kLatin[(code - 0x410) % 32];
        }
    }
    if (letters.empty()) return "ST";
    // Names that begin alike (bench-a1, bench-a2; DESKTOP-4F7KQ2L, the Windows default) differ
    // at their ends: a long name keeps both.
    return letters.size() <= 8 ? letters
                               : letters.substr(0, 4) + letters.substr(letters.size() - 4);
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
