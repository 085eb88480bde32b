#include "sweep.hpp"

#include <cmath>
#include <numbers>

#include "card_format.hpp"

namespace mkcard {

std::vector<double> make_sweep(std::size_t samples, double start_hz, double end_hz) {
    std::vector<double> sweep(samples);
    const double seconds = static_cast<double>(samples) / kSampleRate;
    const double sweep_rate = (end_hz - start_hz) / seconds;
    for (std::size_t i = 0; i < samples; ++i) {
        const double t = static_cast<double>(i) / kSampleRate;
        const double phase = 2.0 * std::numbers::pi * (start_hz * t + 0.5 * sweep_rate * t * t);
        const double envelope = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) /
                                                      static_cast<double>(samples - 1));
        sweep[i] = envelope * std::sin(phase);
    }
    return sweep;
}

}  // namespace mkcard
