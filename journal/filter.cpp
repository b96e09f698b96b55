#include "journal/filter.h"

#include <string_view>

namespace journal {
namespace {

bool IsDigits(std::string_view text) {
    return text.find_first_not_of("0123456789") == std::string_view::npos;
}

// `since` as started_at's text compares with it: "2026-12-07" is before every time of that day,
// a space between date and time becomes the T, and the Z goes, since the milliseconds that
// started_at has and `since` may lack sort after the end of `since` but before a Z. Anything
// else, such as a time zone offset, would compare wrongly and is refused.
bool SinceText(std::string since, std::string& text, std::string& error) {
    if (!since.empty() && (since.back() == 'Z' || since.back() == 'z')) since.pop_back();
    if (since.size() > 10 && (since[10] == ' ' || since[10] == 't')) since[10] = 'T';
    const std::string_view view = since;
    const bool date = view.size() >= 10 && IsDigits(view.substr(0, 4)) && view[4] == '-' &&
                      IsDigits(view.substr(5, 2)) && view[7] == '-' && IsDigits(view.substr(8, 2));
    const bool time =
        view.size() == 10 || (view.size() > 10 && view[10] == 'T' &&
                              view.find_first_not_of("0123456789:.", 11) == std::string_view::npos);
    if (!since.empty() && !(date && time)) {
        error = "\"" + since +
                "\" is neither a date such as 2026-12-07 nor a UTC time such as "
                "2026-12-07T10:42";
        return false;
    }
    text = std::move(since);
    return true;
}

}  // namespace

bool CheckedFilter(const Filter& filter, std::string& since, std::string& error) {
    if (!filter.verdict.empty() && filter.verdict != "pass" && filter.verdict != "fail" &&
        filter.verdict != "interrupted") {
        error = "unknown verdict \"" + filter.verdict + "\": pass, fail or interrupted";
        return false;
    }
    return SinceText(filter.since, since, error);
}

}  // namespace journal
