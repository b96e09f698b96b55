#pragma once

#include <memory>
#include <string>

#include "journal/forwarder.h"
#include "station/station.h"
#include "web/page_state.h"

// The station's live operator page and its read-only API over HTTP (`station --http`): the page
// at /, its events at /events (Server-Sent Events), /api/state, /api/units, /units/ID and
// /metrics. The station hands it events through a bounded queue that it never waits on: a
// viewer, slow, stalled or many, never holds up a slot or the journal.
namespace web {

class OperatorPage {
  public:
    // "[ADDRESS:]PORT", a bare port meaning 127.0.0.1 and port 0 any free one; the server
    // listens once this returns. Nothing, with the reason, for an address that is malformed or
    // cannot be bound. `journal_path` is read for /api/units and never shown.
    static std::unique_ptr<OperatorPage> Open(const std::string& address, PageSettings settings,
                                              std::string journal_path, std::string& error);
    ~OperatorPage();  // the viewers are told the station has ended, then the server stops
    OperatorPage(const OperatorPage&) = delete;
    OperatorPage& operator=(const OperatorPage&) = delete;

    // From any thread; a full queue drops the event (counted) rather than wait.
    void Post(const station::Event& event);
    void Post(const journal::ForwardStatus& status);

    std::string Url() const;  // "http://127.0.0.1:8080/"

    struct Impl;

  private:
    explicit OperatorPage(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace web
