#pragma once
// The read rate over the last few seconds, from the bytes done at the times
// the progress line is drawn. A card that stalls shows as a rate that falls
// to 0 within the window.

#include <cstdint>
#include <deque>
#include <optional>

namespace quilbex::report {

class RateMeter {
public:
    static constexpr int64_t windowMilliseconds = 5000;
    // Bytes arrive a block (4 MiB) at a time: over a shorter span the rate
    // would swing with every block.
    static constexpr int64_t shortestSpanMilliseconds = 1000;
    static constexpr int64_t spacingMilliseconds = 250;

    // Times and byte counts never go down from one sample to the next.
    void add(int64_t milliseconds, uint64_t bytesDone);

    // Bytes per second over the window; nothing while the samples span less
    // than shortestSpanMilliseconds.
    std::optional<double> bytesPerSecond() const;

private:
    struct Sample {
        int64_t milliseconds;
        uint64_t bytesDone;
    };
    // Oldest first. The first may lie before the window: it is the base of
    // the average. All but the last lie spacingMilliseconds apart or more,
    // so there are never more than window / spacing + 2.
    std::deque<Sample> samples_;
};

}  // namespace quilbex::report
