#include "station/unit_rate.h"

#include <algorithm>

namespace station {

void UnitRate::Ended(Clock::time_point at) {
    ++total_;
    ends_.push_back(at);
    while (!ends_.empty() && at - ends_.front() > kWindow) ends_.pop_front();
}

std::optional<double> UnitRate::PerHour(Clock::time_point now) const {
    const Clock::duration covered = std::min<Clock::duration>(now - start_, kWindow);
    if (total_ < kFewest || covered < kLeast) return std::nullopt;
    const auto recent = std::count_if(ends_.begin(), ends_.end(),
                                      [&](Clock::time_point end) { return now - end <= kWindow; });
    return static_cast<double>(recent) * 3600.0 /
           std::chrono::duration<double>(covered).count();
}

}  // namespace station
