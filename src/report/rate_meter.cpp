#include "report/rate_meter.hpp"

namespace quilbex::report {

void RateMeter::add(int64_t milliseconds, uint64_t bytesDone) {
    const size_t count = samples_.size();
    if (count >= 2 && samples_[count - 1].milliseconds - samples_[count - 2].milliseconds < spacingMilliseconds)
        samples_.back() = {milliseconds, bytesDone};
    else
        samples_.push_back({milliseconds, bytesDone});
    while (samples_.size() > 2 && samples_[1].milliseconds <= milliseconds - windowMilliseconds)
        samples_.pop_front();
}

std::optional<double> RateMeter::bytesPerSecond() const {
    if (samples_.empty()) return std::nullopt;
    const int64_t span = samples_.back().milliseconds - samples_.front().milliseconds;
    if (span < shortestSpanMilliseconds) return std::nullopt;
    return static_cast<double>(samples_.back().bytesDone - samples_.front().bytesDone) * 1000.0 /
           static_cast<double>(span);
}

}  // namespace quilbex::report
