#pragma once

#include <cstdint>
#include <span>

namespace mkcard {

// Seeded random bytes that can never be taken for a block header: bytes
// 4-7 are forced away from the magic.
void fill_junk_noise(std::span<std::uint8_t> bytes, std::uint64_t seed);

}  // namespace mkcard
