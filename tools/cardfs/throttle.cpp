#include "throttle.hpp"

#include <algorithm>
#include <thread>

namespace cardfs {

Throttle::Throttle(double bytes_per_second)
    : bytes_per_second_(bytes_per_second), next_free_(Clock::now()) {}

void Throttle::take(std::uint64_t bytes) {
    std::this_thread::sleep_until(reserve(bytes));
}

// Books the transfer time under the lock but sleeps outside it, so threads
// queue behind each other's bookings rather than behind each other's sleeps.
Throttle::Clock::time_point Throttle::reserve(std::uint64_t bytes) {
    const auto cost = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(bytes) / bytes_per_second_));
    std::lock_guard lock(mutex_);
    next_free_ = std::max(next_free_, Clock::now()) + cost;
    return next_free_;
}

}  // namespace cardfs
