#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/session.h"
#include "journal/forwarder.h"
#include "journal/journal.h"

struct Request;

// The central journal's connection string: --central, else, where `environment` (for the
// subcommands that commission), TRANSMITTER_CENTRAL; empty for none, and always in a build
// without the central journal. The exit code instead when it is refused (said).
std::optional<int> CentralUrl(const Session& session, const Request& request, bool environment,
                              std::string& url);

// Once a unit's row is complete: sends it, with every row still waiting, to the central
// journal. A server that cannot be reached is said in one line and changes no exit code; the
// rows wait for the next run.
void ForwardWaitingRows(const Session& session, journal::Journal& journal, const std::string& url);

// The station's forwarding, on a thread of its own (nothing for an empty URL). `report` is
// called from that thread.
class StationForwarding {
  public:
    // `prefix`: the unit prefix `station` numbers with, checked against the other stations'.
    StationForwarding(const std::string& journal_path, const std::string& url,
                      std::function<void(const journal::ForwardStatus&)> report,
                      const std::string& prefix, const std::string& station);
    ~StationForwarding();
    void Nudge();
    void Finish();

  private:
    struct Thread;
    std::unique_ptr<Thread> thread_;
};

// What `journal` lists and imports into: the local file, or the central journal.
struct JournalSource {
    std::function<std::vector<journal::UnitRow>(const journal::Filter&, std::string&)> rows;
    std::function<std::vector<journal::BatchSummary>(const journal::Filter&, std::string&)> summary;
    std::function<bool(const std::vector<journal::UnitRow>&, int&, std::string&)> merge;
};
JournalSource LocalSource(std::shared_ptr<journal::Journal> journal);
// None, with the reason said, when the central journal cannot be used.
std::optional<JournalSource> CentralSource(const Session& session, const std::string& url);
