#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

namespace cardfs {

// Paces reads to an overall byte rate shared by all FUSE threads. The bucket
// holds no burst: an idle card earns no credit, so every read, the first
// included, takes at least its own size divided by the rate. That makes the
// time of a single 4 MiB read predictable, which is what slow-card tests want.
class Throttle {
public:
    explicit Throttle(double bytes_per_second);

    // Blocks until `bytes` more bytes may pass.
    void take(std::uint64_t bytes);

private:
    using Clock = std::chrono::steady_clock;

    Clock::time_point reserve(std::uint64_t bytes);

    std::mutex mutex_;
    const double bytes_per_second_;
    Clock::time_point next_free_;
};

}  // namespace cardfs
