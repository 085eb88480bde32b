#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace mkcard {

// Bat-like test audio: a 5 ms sweep from 80 kHz down to 30 kHz every
// 100 ms over a noise floor of a few LSB. One period is computed up front;
// blocks only copy from it and add cheap noise.
class ChirpSignal {
public:
    ChirpSignal();

    std::uint64_t period_samples() const { return period_.size(); }

    // Writes little-endian 16-bit samples starting `position` samples into the
    // endless signal; `noise_seed` makes the noise of each block distinct.
    void fill(std::span<std::uint8_t> payload, std::uint64_t position,
              std::uint64_t noise_seed) const;

private:
    std::vector<std::int16_t> period_;
};

}  // namespace mkcard
