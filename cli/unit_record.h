#pragma once

#include <memory>
#include <optional>
#include <string>

#include "cli/session.h"
#include "journal/journal.h"

struct Request;

// Who and where, as the journal keeps them.
std::string HostName();
std::string LoginName(CliStreams& io);
// "2026-12-08-1a2b3c4d": the day and the profile, so that a day's units of one profile are one
// batch unless the operator names it.
std::string DefaultBatch(const std::string& profile);
// The file --journal names, else the user's journal; empty when there is none.
std::string JournalPath(const Request& request);
// The journal that --journal names, else the user's; null, with the reason said, when it
// cannot be used.
std::unique_ptr<journal::Journal> OpenJournal(const Session& session, const Request& request);
// The same journal for reading only: never made, upgraded or changed by being read, so a
// mistyped name or another program's file is refused rather than listed as empty. Null, with
// the reason said, when it cannot be read.
std::unique_ptr<journal::Journal> ReadJournal(const Session& session, const Request& request);

// The journal row of one `write` or `adjust`, as the station keeps its units' rows: begun once
// the unit has answered, completed with the verdict the exit code gives. A port that is not
// there, or where nothing answers, is no unit and leaves no row.
struct UnitRecord {
    std::unique_ptr<journal::Journal> journal;  // none with --no-journal
    journal::UnitRow row;
    std::string central;  // where the row goes on to; empty for nowhere
    bool begun = false;
    std::string begin_error;  // why the row could not be begun
};

// Prepares the row for `profile` on the session's port; the exit code instead when the journal
// cannot be used (nothing is sent then).
std::optional<int> BeginUnitRecord(const Session& session, const Request& request,
                                   const std::string& profile, UnitRecord& record);
// The session the unit's exchanges go through: the row is begun at the unit's first answer.
Session RecordingSession(const Session& session, UnitRecord& record);
// Completes it: pass for 0, interrupted for a signal's code, fail otherwise with the error said,
// and forwards it to the central journal, if there is one. Gives `code`, or 1 when the row could
// not be written.
int EndUnitRecord(const Session& session, UnitRecord& record, int code);
