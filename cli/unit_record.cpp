#include "cli/unit_record.h"

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/central_link.h"
#include "cli/subcommands.h"
#include "journal/journal_path.h"
#include "serial/device_path.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <pwd.h>
#include <unistd.h>
#endif

std::string HostName() {
#ifdef _WIN32
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (GetComputerNameW(name, &size) == 0) return "station";
    return Utf8FromUtf16(std::u16string(reinterpret_cast<const char16_t*>(name), size));
#else
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "station";
    return name;
#endif
}

std::string LoginName(CliStreams& io) {
#ifdef _WIN32
    if (auto name = EnvironmentValue(io, "USERNAME")) return *name;
#else
    for (const char* variable : {"LOGNAME", "USER"}) {
        if (auto name = EnvironmentValue(io, variable); name && !name->empty()) return *name;
    }
    if (const passwd* user = ::getpwuid(::geteuid())) return user->pw_name;
#endif
    return "unknown";
}

std::string DefaultBatch(const std::string& profile) {
    return journal::UtcNow().substr(0, 10) + "-" + journal::Sha256Hex(profile).substr(0, 8);
}

std::string JournalPath(const Request& request) {
    return request.journal.empty() ? journal::DefaultJournalPath() : request.journal;
}

namespace {

// A journal's name that is no regular file, or one Windows keeps for a device, is said and
// refused before anything opens it.
bool RefusedAsJournal(const Session& session, const std::string& path) {
    const std::string refusal = journal::JournalFileRefusal(path);
    if (!refusal.empty()) session.Fail(kExitUsage, "cannot use the journal: " + refusal);
    return !refusal.empty();
}

}  // namespace

std::unique_ptr<journal::Journal> OpenJournal(const Session& session, const Request& request) {
    const std::string path = JournalPath(request);
    if (path.empty()) {
        session.Fail(kExitUsage, "no journal file: give --journal FILE");
        return nullptr;
    }
    if (RefusedAsJournal(session, path)) return nullptr;
    std::string error;
    std::unique_ptr<journal::Journal> journal =
        journal::Journal::Open(path, error, session.link.stop);
    if (!journal) {
        session.Fail(kExitUsage, "cannot use the journal " + path + ": " + error);
    } else if (!request.unit_prefix.empty()) {
        journal->UseUnitPrefix(request.unit_prefix);
    }
    return journal;
}

std::unique_ptr<journal::Journal> ReadJournal(const Session& session, const Request& request) {
    const std::string path = JournalPath(request);
    std::error_code missing;
    if (!std::filesystem::exists(std::filesystem::path(std::u8string(path.begin(), path.end())),
                                 missing)) {
        session.Fail(kExitUsage, "no journal at " + path);
        return nullptr;
    }
    if (RefusedAsJournal(session, path)) return nullptr;
    std::string error;
    std::unique_ptr<journal::Journal> journal =
        journal::Journal::OpenToRead(path, error, session.link.stop);
    if (!journal) session.Fail(kExitUsage, "cannot read the journal " + path + ": " + error);
    return journal;
}

std::optional<int> BeginUnitRecord(const Session& session, const Request& request,
                                   const std::string& profile, UnitRecord& record) {
    if (auto code = CentralUrl(session, request, true, record.central)) return *code;
    if (request.no_journal) return std::nullopt;
    record.journal = OpenJournal(session, request);
    if (!record.journal) return kExitUsage;
    journal::UnitRow& row = record.row;
    row.batch = request.batch.empty() ? DefaultBatch(profile) : request.batch;
    row.station = HostName();
    // As the station names its slots: the port as the user gave it.
    row.slot = Utf8FromUtf16(session.link.port);
    row.operator_name =
        request.operator_name.empty() ? LoginName(session.io) : request.operator_name;
    row.profile = profile;
    row.tries = 1;
    row.started_at = journal::UtcNow();
    return std::nullopt;
}

Session RecordingSession(const Session& session, UnitRecord& record) {
    Session unit = session;
    if (!record.journal) return unit;
    unit.link.trace = [&record, trace = session.link.trace](Direction direction,
                                                            const std::vector<std::uint8_t>& bytes,
                                                            std::string_view meaning) {
        if (trace) trace(direction, bytes, meaning);
        if (direction != Direction::kFromDevice || record.begun) return;
        record.begun = true;
        if (!record.journal->Begin(record.row, record.begin_error)) record.journal.reset();
    };
    return unit;
}

int EndUnitRecord(const Session& session, UnitRecord& record, int code) {
    if (!record.begin_error.empty()) {
        session.Fail(kExitDevice, "the journal cannot be written: " + record.begin_error +
                                      " (--no-journal goes on without it)");
        return code == kExitOk ? kExitDevice : code;
    }
    if (!record.journal || !record.begun) return code;
    journal::UnitRow& row = record.row;
    row.verdict = code == kExitOk ? "pass" : code >= 128 ? "" : "fail";
    if (code != kExitOk) row.error = session.failure;
    std::string error;
    if (record.journal->Finish(row, error)) {
        // Not after a stop signal: the operator wants the program ended.
        if (code < 128) ForwardWaitingRows(session, *record.journal, record.central);
        return code;
    }
    session.Fail(kExitDevice, "the journal cannot be written: " + error);
    return code == kExitOk ? kExitDevice : code;
}
