#include "cli/central_link.h"

#include "cli/subcommands.h"

#ifdef CONFIGURATOR_WITH_CENTRAL
#include "journal/central.h"
#endif

std::optional<int> CentralUrl(const Session& session, const Request& request, bool environment,
                              std::string& url) {
    url = request.central;
#ifdef CONFIGURATOR_WITH_CENTRAL
    // Set for the whole machine, the variable leaves a unit without a journal row alone.
    if (url.empty() && environment && !request.no_journal) {
        url = EnvironmentValue(session.io, "TRANSMITTER_CENTRAL").value_or("");
    }
    if (url.empty()) return std::nullopt;
    if (request.no_journal) {
        return session.Fail(kExitUsage,
                            "the central journal takes its rows from the local one: "
                            "--central and --no-journal exclude each other");
    }
    if (std::string refusal = journal::CentralUrlRefusal(url); !refusal.empty()) {
        return session.Fail(kExitUsage, refusal);
    }
#else
    (void)session;
    (void)environment;
#endif
    return std::nullopt;
}

void ForwardWaitingRows(const Session& session, journal::Journal& journal, const std::string& url) {
#ifdef CONFIGURATOR_WITH_CENTRAL
    if (url.empty()) return;
    journal::Forwarder forwarder(journal, url, session.link.stop);
    if (forwarder.Pass()) return;
    const journal::ForwardStatus& status = forwarder.Status();
    session.io.err << kProgram << ": " << session.subcommand
                   << ": central journal: " << status.reason << " (" << status.waiting
                   << " waiting in the local journal)\n"
                   << std::flush;
#else
    (void)session;
    (void)journal;
    (void)url;
#endif
}

struct StationForwarding::Thread {
#ifdef CONFIGURATOR_WITH_CENTRAL
    std::unique_ptr<journal::ForwardingThread> forwarding;
#endif
};

StationForwarding::StationForwarding(const std::string& journal_path, const std::string& url,
                                     std::function<void(const journal::ForwardStatus&)> report,
                                     const std::string& prefix, const std::string& station)
    : thread_(std::make_unique<Thread>()) {
#ifdef CONFIGURATOR_WITH_CENTRAL
    if (url.empty()) return;
    // A connection of its own, so that forwarding never holds a slot's commit.
    std::string error;
    std::unique_ptr<journal::Journal> journal = journal::Journal::Open(journal_path, error);
    if (!journal) {
        journal::ForwardStatus status;
        status.reachable = false;
        status.reason = "the local journal: " + error;
        report(status);
        return;
    }
    thread_->forwarding = std::make_unique<journal::ForwardingThread>(
        std::move(journal), url, std::move(report), prefix, station);
#else
    (void)journal_path;
    (void)url;
    (void)report;
    (void)prefix;
    (void)station;
#endif
}

StationForwarding::~StationForwarding() {
    Finish();
}

void StationForwarding::Nudge() {
#ifdef CONFIGURATOR_WITH_CENTRAL
    if (thread_->forwarding) thread_->forwarding->Nudge();
#endif
}

void StationForwarding::Finish() {
#ifdef CONFIGURATOR_WITH_CENTRAL
    if (thread_->forwarding) thread_->forwarding->Finish();
#endif
}

JournalSource LocalSource(std::shared_ptr<journal::Journal> journal) {
    return {[journal](const journal::Filter& filter, std::string& error) {
                return journal->Rows(filter, error);
            },
            [journal](const journal::Filter& filter, std::string& error) {
                return journal->Summary(filter, error);
            },
            [journal](const std::vector<journal::UnitRow>& rows, int& changed, std::string& error) {
                return journal->Merge(rows, changed, error);
            }};
}

std::optional<JournalSource> CentralSource(const Session& session, const std::string& url) {
#ifdef CONFIGURATOR_WITH_CENTRAL
    std::string error;
    std::shared_ptr<journal::Central> central =
        journal::Central::Connect(url, session.link.stop, error);
    if (!central) {
        session.Fail(kExitDevice, "the central journal: " + error);
        return std::nullopt;
    }
    return JournalSource{
        [central](const journal::Filter& filter, std::string& error) {
            return central->Rows(filter, error);
        },
        [central](const journal::Filter& filter, std::string& error) {
            return central->Summary(filter, error);
        },
        [central](const std::vector<journal::UnitRow>& rows, int& changed, std::string& error) {
            return central->Merge(rows, changed, error);
        }};
#else
    (void)url;
    session.Fail(kExitUsage, "this build keeps no central journal");
    return std::nullopt;
#endif
}
