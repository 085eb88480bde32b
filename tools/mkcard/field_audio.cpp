#include "field_audio.hpp"

#include <algorithm>
#include <cmath>

#include "card_format.hpp"
#include "rng.hpp"
#include "sweep.hpp"

namespace mkcard {

namespace {

constexpr std::size_t kCallSamples = kSampleRate / 250;  // 4 ms
constexpr double kStartHz = 80000.0;
constexpr double kEndHz = 30000.0;
constexpr std::uint64_t kSecond = kSampleRate;
constexpr std::uint64_t kShortestGap = kSampleRate * 60 / 1000;
constexpr std::uint64_t kGapSpread = kSampleRate * 40 / 1000;
constexpr std::uint64_t kBurstPercent = 40;
constexpr std::uint64_t kLoudest = 8000;
constexpr std::uint64_t kQuietest = 1000;
// The sum of four uniform 16-bit draws is close to Gaussian; its standard
// deviation is 65536 / sqrt(3).
constexpr double kNoiseSigma = 100.0;
constexpr double kNoiseScale = kNoiseSigma * 1.7320508075688772 / 65536.0;
constexpr double kNoiseMean = 4 * 32767.5;

int read_sample(const std::uint8_t* p) { return static_cast<std::int16_t>(p[0] | p[1] << 8); }

void put_sample(std::uint8_t* p, int value) {
    const auto v = static_cast<std::uint16_t>(std::clamp(value, -32768, 32767));
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

}  // namespace

FieldAudio::FieldAudio() : call_(make_sweep(kCallSamples, kStartHz, kEndHz)) {}

void FieldAudio::fill(std::span<std::uint8_t> payload, std::uint64_t position,
                      std::uint64_t stream_seed, std::uint64_t noise_seed) const {
    Rng rng(noise_seed);
    const std::size_t count = payload.size() / 2;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t bits = rng.next();
        const double sum = static_cast<double>((bits & 0xFFFF) + (bits >> 16 & 0xFFFF) +
                                               (bits >> 32 & 0xFFFF) + (bits >> 48));
        put_sample(&payload[2 * i], static_cast<int>(std::lround((sum - kNoiseMean) * kNoiseScale)));
    }
    if (payload.size() % 2 != 0) payload.back() = 0;
    add_calls(payload.first(2 * count), position, stream_seed);
}

// Adds every call that sounds within the payload's samples.
void FieldAudio::add_calls(std::span<std::uint8_t> payload, std::uint64_t position,
                           std::uint64_t stream_seed) const {
    const std::uint64_t end = position + payload.size() / 2;
    for (std::uint64_t second = position / kSecond; second * kSecond < end; ++second) {
        Rng rng(derive_seed({stream_seed, second}));
        if (rng.next() % 100 >= kBurstPercent) continue;
        const std::uint64_t second_end = (second + 1) * kSecond;
        for (std::uint64_t start = second * kSecond + rng.next() % kShortestGap;
             start + kCallSamples <= second_end; start += kShortestGap + rng.next() % kGapSpread) {
            const auto amplitude = static_cast<double>(kQuietest + rng.next() % (kLoudest - kQuietest));
            const std::uint64_t from = std::max(start, position);
            const std::uint64_t to = std::min(start + kCallSamples, end);
            for (std::uint64_t s = from; s < to; ++s) {
                std::uint8_t* p = &payload[2 * (s - position)];
                put_sample(p, read_sample(p) + static_cast<int>(std::lround(amplitude * call_[s - start])));
            }
        }
    }
}

}  // namespace mkcard
