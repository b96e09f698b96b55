#pragma once

#include <string>

#include "journal/journal.h"

namespace journal {

// Checks a filter as both journals take it: the verdict one of pass, fail and interrupted, and
// `since` a date or a UTC date and time. `since` comes out as text that compares with
// started_at's ("2026-12-07", "2026-12-07T10:42"), with no Z.
bool CheckedFilter(const Filter& filter, std::string& since, std::string& error);

}  // namespace journal
