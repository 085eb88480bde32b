#pragma once

#include <cstdint>
#include <span>

namespace mkcard {

constexpr std::uint8_t reverse_bits(std::uint8_t b) {
    b = static_cast<std::uint8_t>((b & 0xF0u) >> 4 | (b & 0x0Fu) << 4);
    b = static_cast<std::uint8_t>((b & 0xCCu) >> 2 | (b & 0x33u) << 2);
    b = static_cast<std::uint8_t>((b & 0xAAu) >> 1 | (b & 0x55u) << 1);
    return b;
}

// Converts between logical bytes and the card's bit-mirrored storage.
// The transform is its own inverse.
void reverse_bits_in_place(std::span<std::uint8_t> bytes);

}  // namespace mkcard
