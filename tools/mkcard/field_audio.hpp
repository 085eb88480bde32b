#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace mkcard {

// Audio as a bat detector records it in the field: a Gaussian noise floor of
// about +-200 LSB with frequency-modulated calls (80 kHz down to 30 kHz in
// 4 ms), 60-100 ms apart, in bursts. Such audio deflates to 65-80 % of its
// size, where the chirp signal shrinks to under 40 %.
//
// Each second of a stream decides from the stream's seed alone whether it
// holds a burst and where its calls start, and no call crosses into the next
// second, so any block can be made on its own.
class FieldAudio {
public:
    FieldAudio();

    // Writes little-endian 16-bit samples starting `position` samples into
    // the stream that `stream_seed` describes; `noise_seed` makes the noise
    // of each block distinct.
    void fill(std::span<std::uint8_t> payload, std::uint64_t position, std::uint64_t stream_seed,
              std::uint64_t noise_seed) const;

private:
    void add_calls(std::span<std::uint8_t> payload, std::uint64_t position,
                   std::uint64_t stream_seed) const;

    std::vector<double> call_;  // one call at amplitude 1
};

}  // namespace mkcard
