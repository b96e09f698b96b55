#pragma once

#include <string>

#include "journal/journal.h"

namespace journal {

// Checks a filter as both journals take it: the verdict one of pass, fail and interrupted, and
// `since` an ISO 8601 date or date and time (local time without Z or an offset). `since` comes
// out as started_at writes a time, "2026-12-07T10:42:00.000Z", or empty for none.
bool CheckedFilter(const Filter& filter, std::string& since, std::string& error);

}  // namespace journal
