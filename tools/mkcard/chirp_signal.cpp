#include "chirp_signal.hpp"

#include <algorithm>
#include <cmath>

#include "card_format.hpp"
#include "rng.hpp"
#include "sweep.hpp"

namespace mkcard {

namespace {

constexpr std::size_t kPeriodSamples = kSampleRate / 10;  // 100 ms
constexpr std::size_t kChirpSamples = kSampleRate / 200;  // 5 ms
constexpr double kStartHz = 80000.0;
constexpr double kEndHz = 30000.0;
constexpr double kPeakAmplitude = 6000.0;

std::vector<std::int16_t> make_period() {
    std::vector<std::int16_t> samples(kPeriodSamples, 0);
    const std::vector<double> sweep = make_sweep(kChirpSamples, kStartHz, kEndHz);
    for (std::size_t i = 0; i < kChirpSamples; ++i)
        samples[i] = static_cast<std::int16_t>(std::lround(kPeakAmplitude * sweep[i]));
    return samples;
}

void put_sample(std::uint8_t* dst, int value) {
    const auto v = static_cast<std::uint16_t>(value);
    dst[0] = static_cast<std::uint8_t>(v);
    dst[1] = static_cast<std::uint8_t>(v >> 8);
}

}  // namespace

ChirpSignal::ChirpSignal() : period_(make_period()) {}

void ChirpSignal::fill(std::span<std::uint8_t> payload, std::uint64_t position,
                       std::uint64_t noise_seed) const {
    Rng rng(noise_seed);
    const std::size_t count = payload.size() / 2;
    std::size_t phase = position % period_.size();
    std::uint64_t bits = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (i % 8 == 0) bits = rng.next();
        // Sum of two 3-bit draws: a triangular floor of -7..7 LSB.
        const int noise = static_cast<int>((bits & 7u) + ((bits >> 3) & 7u)) - 7;
        bits >>= 8;
        put_sample(&payload[2 * i], period_[phase] + noise);
        if (++phase == period_.size()) phase = 0;
    }
    if (payload.size() % 2 != 0) payload.back() = 0;
}

}  // namespace mkcard
