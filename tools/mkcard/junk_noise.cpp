#include "junk_noise.hpp"

#include <cstring>

#include "card_format.hpp"
#include "rng.hpp"

namespace mkcard {

namespace {

std::uint32_t read_le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

void fill_junk_noise(std::span<std::uint8_t> bytes, std::uint64_t seed) {
    Rng rng(seed);
    std::size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        const std::uint64_t r = rng.next();
        std::memcpy(bytes.data() + i, &r, 8);
    }
    const std::uint64_t tail = rng.next();
    std::memcpy(bytes.data() + i, &tail, bytes.size() - i);
    if (bytes.size() >= kMagicOffset + 4 && read_le32(&bytes[kMagicOffset]) == kMagic)
        bytes[kMagicOffset] ^= 0x01;
}

}  // namespace mkcard
