#pragma once

#include <chrono>
#include <deque>
#include <optional>

// Units per hour over the last quarter of an hour. The first units of a station end close
// together (every slot started at once), and a rate drawn from them would promise thousands an
// hour: there is none until a few units have ended and a minute has passed.
namespace station {

class UnitRate {
  public:
    using Clock = std::chrono::steady_clock;
    explicit UnitRate(Clock::time_point start = Clock::now()) : start_(start) {}

    void Ended(Clock::time_point at = Clock::now());
    std::optional<double> PerHour(Clock::time_point now = Clock::now()) const;

    static constexpr std::chrono::minutes kWindow{15};
    static constexpr std::chrono::minutes kLeast{1};
    static constexpr int kFewest = 5;

  private:
    Clock::time_point start_;
    std::deque<Clock::time_point> ends_;  // within the window, oldest first
    int total_ = 0;
};

}  // namespace station
