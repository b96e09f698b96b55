#include "journal/filter.h"

#include <cstdio>
#include <ctime>
#include <string_view>

namespace journal {
namespace {

// The number that `digits` characters at `at` make; -1 when they are not all digits.
int Digits(std::string_view text, std::size_t at, std::size_t digits) {
    if (at + digits > text.size()) return -1;
    int number = 0;
    for (std::size_t i = at; i < at + digits; ++i) {
        if (text[i] < '0' || text[i] > '9') return -1;
        number = number * 10 + (text[i] - '0');
    }
    return number;
}

bool LeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && LeapYear(year) ? 29 : kDays[month - 1];
}

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar.
long long DaysFromCivil(int year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const long long of_era = year - era * 400;
    const long long of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long long of_cycle = of_era * 365 + of_era / 4 - of_era / 100 + of_year;
    return era * 146097 + of_cycle - 719468;
}

struct Moment {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
    bool zoned = false;
    int offset_minutes = 0;  // east of UTC
};

// ISO 8601: a date, or a date and a time with or without seconds (and their fraction), with
// or without Z or an offset. A space may stand for the T.
bool Parse(std::string_view text, Moment& moment) {
    moment.year = Digits(text, 0, 4);
    moment.month = Digits(text, 5, 2);
    moment.day = Digits(text, 8, 2);
    if (text.size() < 10 || text[4] != '-' || text[7] != '-' || moment.year < 1 ||
        moment.month < 1 || moment.month > 12 || moment.day < 1 ||
        moment.day > DaysInMonth(moment.year, moment.month)) {
        return false;
    }
    if (text.size() == 10) return true;
    if (std::string_view("Tt ").find(text[10]) == std::string_view::npos) return false;
    moment.hour = Digits(text, 11, 2);
    moment.minute = Digits(text, 14, 2);
    if (text.size() < 16 || text[13] != ':' || moment.hour < 0 || moment.hour > 23 ||
        moment.minute < 0 || moment.minute > 59) {
        return false;
    }
    std::size_t at = 16;
    if (at < text.size() && text[at] == ':') {
        moment.second = Digits(text, at + 1, 2);
        if (moment.second < 0 || moment.second > 59) return false;
        at += 3;
        if (at < text.size() && (text[at] == '.' || text[at] == ',')) {
            std::size_t end = ++at;
            while (end < text.size() && Digits(text, end, 1) >= 0) ++end;
            if (end == at) return false;
            for (std::size_t i = at; i < at + 3; ++i) {
                moment.millisecond = moment.millisecond * 10 + (i < end ? text[i] - '0' : 0);
            }
            at = end;
        }
    }
    const std::string_view zone = text.substr(at);
    if (zone.empty()) return true;
    moment.zoned = true;
    if (zone == "Z" || zone == "z") return true;
    if (zone[0] != '+' && zone[0] != '-') return false;
    const int hours = Digits(zone, 1, 2);
    int minutes = 0;
    if (zone.size() == 6 && zone[3] == ':') {
        minutes = Digits(zone, 4, 2);
    } else if (zone.size() == 5) {
        minutes = Digits(zone, 3, 2);
    } else if (zone.size() != 3) {
        return false;
    }
    if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59) return false;
    moment.offset_minutes = (zone[0] == '-' ? -1 : 1) * (hours * 60 + minutes);
    return true;
}

// The moment as started_at writes it, in UTC with milliseconds, so that the two compare as
// text; a moment without a zone is the computer's local time.
bool UtcText(const Moment& moment, std::string& text) {
    long long seconds = 0;
    if (moment.zoned) {
        seconds = DaysFromCivil(moment.year, moment.month, moment.day) * 86400 +
                  moment.hour * 3600 + moment.minute * 60 + moment.second -
                  moment.offset_minutes * 60LL;
    } else {
        std::tm local{};
        local.tm_year = moment.year - 1900;
        local.tm_mon = moment.month - 1;
        local.tm_mday = moment.day;
        local.tm_hour = moment.hour;
        local.tm_min = moment.minute;
        local.tm_sec = moment.second;
        local.tm_isdst = -1;
        const std::time_t made = std::mktime(&local);
        if (made == static_cast<std::time_t>(-1)) return false;
        seconds = static_cast<long long>(made);
    }
    const long long days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
    const long long of_day = seconds - days * 86400;
    // civil_from_days
    const long long z = days + 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long of_era = z - era * 146097;
    const long long year_of_era = (of_era - of_era / 1460 + of_era / 36524 - of_era / 146096) / 365;
    const long long of_year = of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const long long mp = (5 * of_year + 2) / 153;
    const long long day = of_year - (153 * mp + 2) / 5 + 1;
    const long long month = mp < 10 ? mp + 3 : mp - 9;
    const long long year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
    if (year < 1 || year > 9999) return false;
    char made[96];
    std::snprintf(made, sizeof made, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", static_cast<int>(year),
                  static_cast<int>(month), static_cast<int>(day), static_cast<int>(of_day / 3600),
                  static_cast<int>(of_day / 60 % 60), static_cast<int>(of_day % 60),
                  moment.millisecond % 1000);
    text = made;
    return true;
}

}  // namespace

bool CheckedFilter(const Filter& filter, std::string& since, std::string& error) {
    if (!filter.verdict.empty() && filter.verdict != "pass" && filter.verdict != "fail" &&
        filter.verdict != "interrupted") {
        error = "unknown verdict \"" + filter.verdict + "\": pass, fail or interrupted";
        return false;
    }
    since.clear();
    if (filter.since.empty()) return true;
    Moment moment;
    if (Parse(filter.since, moment) && UtcText(moment, since)) return true;
    error = "--since \"" + filter.since +
            "\" is no ISO 8601 date or time: 2026-12-07, 2026-12-07T10:42, "
            "2026-12-07T10:42:05Z or 2026-12-07T10:42+03:00 (local time without Z or an offset)";
    return false;
}

}  // namespace journal
