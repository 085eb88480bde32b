#pragma once

#include <cstdint>
#include <initializer_list>

namespace mkcard {

inline std::uint64_t mix64(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// Derives an independent stream seed from the user seed and a position, so
// any block can be generated on its own and still come out identical.
inline std::uint64_t derive_seed(std::initializer_list<std::uint64_t> parts) {
    std::uint64_t h = 0x6A09E667F3BCC909ull;
    for (const std::uint64_t p : parts) h = mix64(h ^ mix64(p + 0x9E3779B97F4A7C15ull));
    return h;
}

// Small, fast and good enough for test noise.
class Rng {
public:
    explicit Rng(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        state_ += 0x9E3779B97F4A7C15ull;
        return mix64(state_);
    }

private:
    std::uint64_t state_;
};

}  // namespace mkcard
