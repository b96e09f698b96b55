#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "journal/central.h"
#include "journal/journal.h"

// Store and forward: every unit is committed to the local journal first; its row, and later its
// completion, go on to the central journal from there, oldest first, whenever the server can be
// reached. The central journal takes a row it already has only as a completion, so a row sent
// twice (the station killed before it noted the sending) is harmless.
namespace journal {

struct ForwardStatus {
    int waiting = 0;         // local rows not yet in the central journal as they stand
    bool reachable = true;   // the last attempt got through
    std::string down_since;  // local time ("10:42") of the first failed attempt in a row
    std::string reason;      // why the last attempt failed
    int set_aside = 0;       // rows the central journal refused for what they hold
    std::string refusal;     // why it refused the last of them
    bool encrypted = false;  // the link to the server, once there is one
    bool verified = false;
    std::string warning;  // e.g. another station numbers its units with this one's prefix

    bool operator==(const ForwardStatus&) const = default;
};

class Forwarder {
  public:
    // `journal` is used from the forwarder's thread alone. With a `prefix`, the central journal
    // is asked at every connection whether another station than `station` numbers with it.
    Forwarder(Journal& journal, std::string url, const std::atomic<int>* abandon,
              std::string prefix = {}, std::string station = {});
    // Sends everything waiting; false when the server cannot be reached, refuses the rows, or
    // the local journal fails, with the reason in the status.
    bool Pass();
    const ForwardStatus& Status() const { return status_; }

  private:
    bool Failed(std::string reason);
    // Sends the rows one by one after the server refused a statement of them for what one
    // holds: each refused row is set aside with the server's reason, the others go.
    bool SendOneByOne(const std::vector<UnitRow>& rows);

    Journal& journal_;
    std::string url_;
    const std::atomic<int>* abandon_;
    std::string prefix_, station_;
    std::unique_ptr<Central> central_;
    ForwardStatus status_;
};

// A Forwarder on a thread of its own, as the station runs it, away from every slot: a pass when
// nudged, every few seconds when idle, and while the server is away after a pause that grows
// from 1 s to 30 s. `report` is called from that thread with every change of the status.
class ForwardingThread {
  public:
    ForwardingThread(std::unique_ptr<Journal> journal, std::string url,
                     std::function<void(const ForwardStatus&)> report, std::string prefix = {},
                     std::string station = {});
    ~ForwardingThread();
    ForwardingThread(const ForwardingThread&) = delete;
    ForwardingThread& operator=(const ForwardingThread&) = delete;

    // A unit began or ended: its row is worth sending now.
    void Nudge();
    // Ends the thread after one last pass, so that the last units go too; a pass that takes
    // longer than a few seconds is given up, and its rows wait for the next run.
    void Finish();

  private:
    void Run();

    std::unique_ptr<Journal> journal_;
    std::atomic<int> abandon_{0};
    Forwarder forwarder_;
    std::function<void(const ForwardStatus&)> report_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool nudged_ = false;
    bool finishing_ = false;
    bool ended_ = false;
    std::thread thread_;
};

}  // namespace journal
