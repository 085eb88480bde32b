#pragma once

#include <cstddef>
#include <vector>

namespace mkcard {

// A linear frequency sweep at amplitude 1 under a Hann window, which keeps it
// free of clicks at its ends: `samples` samples at the card's sample rate.
std::vector<double> make_sweep(std::size_t samples, double start_hz, double end_hz);

}  // namespace mkcard
