#include "journal/forwarder.h"

#include <algorithm>
#include <chrono>
#include <ctime>

namespace journal {
namespace {

using namespace std::chrono_literals;

constexpr int kRowsPerPass = 500;
constexpr auto kIdlePause = 3s;
constexpr auto kFirstRetry = 1s;
constexpr auto kLongestRetry = 30s;
constexpr auto kLastPassLimit = 5s;

std::string LocalMinute() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    ::localtime_s(&local, &now);
#else
    ::localtime_r(&now, &local);
#endif
    char text[8];
    std::strftime(text, sizeof text, "%H:%M", &local);
    return text;
}

}  // namespace

Forwarder::Forwarder(Journal& journal, std::string url, const std::atomic<int>* abandon,
                     std::string prefix, std::string station)
    : journal_(journal),
      url_(std::move(url)),
      abandon_(abandon),
      prefix_(std::move(prefix)),
      station_(std::move(station)) {}

bool Forwarder::Failed(std::string reason) {
    if (status_.reachable) status_.down_since = LocalMinute();
    status_.reachable = false;
    status_.reason = std::move(reason);
    std::string ignored;
    if (const int waiting = journal_.CountWaiting(ignored); waiting >= 0) status_.waiting = waiting;
    return false;
}

bool Forwarder::SendOneByOne(const std::vector<UnitRow>& rows) {
    std::string error;
    for (UnitRow row : rows) {
        int changed = 0;
        if (!central_->Merge({row}, changed, error)) {
            if (!central_->RefusedContent()) {
                central_.reset();
                return Failed(std::move(error));
            }
            row.central_refusal = error;
            status_.refusal = std::move(error);
        }
        if (!journal_.MarkForwarded({row}, error)) return Failed("the local journal: " + error);
    }
    return true;
}

bool Forwarder::Pass() {
    std::string error;
    if (!central_) {
        central_ = Central::Connect(url_, abandon_, error);
        if (!central_) return Failed(std::move(error));
        status_.encrypted = central_->Security().encrypted;
        status_.verified = central_->Security().verified;
        std::string holder;
        status_.warning.clear();
        if (!prefix_.empty() && !central_->Claim(prefix_, station_, holder, error)) {
            status_.warning = "the unit prefix " + prefix_ + " cannot be checked: " + error;
        } else if (!prefix_.empty() && holder != station_) {
            status_.warning = "the unit prefix " + prefix_ + " is held by station " + holder +
                              ": give this one its own with --unit-prefix";
        }
    }
    for (;;) {
        const std::vector<UnitRow> rows = journal_.Waiting(kRowsPerPass, error);
        if (!error.empty()) return Failed("the local journal: " + error);
        if (rows.empty()) break;
        int changed = 0;
        if (!central_->Merge(rows, changed, error)) {
            if (central_->RefusedContent()) {
                if (!SendOneByOne(rows)) return false;
                continue;
            }
            // A connection that failed once is not trusted again: the next pass makes a new one.
            central_.reset();
            return Failed(std::move(error));
        }
        if (!journal_.MarkForwarded(rows, error)) return Failed("the local journal: " + error);
    }
    status_.reachable = true;
    status_.down_since.clear();
    status_.reason.clear();
    status_.waiting = journal_.CountWaiting(error);
    status_.set_aside = std::max(0, journal_.CountWaiting(error, true));
    if (status_.set_aside == 0) status_.refusal.clear();
    if (status_.set_aside > 0 && status_.refusal.empty()) {
        // Set aside by an earlier run: its reason is in the journal.
        const std::vector<UnitRow> refused = journal_.Rows({"", "", "", true}, error);
        if (!refused.empty()) status_.refusal = refused.back().central_refusal;
    }
    return true;
}

ForwardingThread::ForwardingThread(std::unique_ptr<Journal> journal, std::string url,
                                   std::function<void(const ForwardStatus&)> report,
                                   std::string prefix, std::string station)
    : journal_(std::move(journal)),
      forwarder_(*journal_, std::move(url), &abandon_, std::move(prefix), std::move(station)),
      report_(std::move(report)),
      thread_([this] { Run(); }) {}

ForwardingThread::~ForwardingThread() {
    Finish();
}

void ForwardingThread::Nudge() {
    {
        const std::lock_guard lock(mutex_);
        nudged_ = true;
    }
    wake_.notify_one();
}

void ForwardingThread::Finish() {
    std::unique_lock lock(mutex_);
    if (!thread_.joinable()) return;
    finishing_ = true;
    wake_.notify_one();
    if (!wake_.wait_for(lock, kLastPassLimit, [this] { return ended_; })) abandon_ = 1;
    lock.unlock();
    thread_.join();
}

void ForwardingThread::Run() {
    ForwardStatus reported;
    bool first = true;
    auto retry = kFirstRetry;
    std::unique_lock lock(mutex_);
    for (;;) {
        const bool last = finishing_;
        nudged_ = false;
        lock.unlock();
        const bool sent = forwarder_.Pass();
        if (first || !(forwarder_.Status() == reported)) {
            reported = forwarder_.Status();
            first = false;
            report_(reported);
        }
        lock.lock();
        if (last) break;
        if (sent) {
            retry = kFirstRetry;
            wake_.wait_for(lock, kIdlePause, [this] { return nudged_ || finishing_; });
            continue;
        }
        // While the server is away a unit's nudge changes nothing; the station's end does, for
        // one last try.
        wake_.wait_for(lock, retry, [this] { return finishing_; });
        retry = std::min<std::chrono::seconds>(retry * 2, kLongestRetry);
    }
    ended_ = true;
    wake_.notify_all();
}

}  // namespace journal
