#include "bit_reverse.hpp"

#include <cstring>

namespace mkcard {

namespace {

// Mirrors the bits of all eight bytes of a word at once; several GiB go
// through here, so a per-byte table lookup would be the bottleneck.
std::uint64_t reverse_bits_per_byte(std::uint64_t w) {
    w = (w & 0xF0F0F0F0F0F0F0F0ull) >> 4 | (w & 0x0F0F0F0F0F0F0F0Full) << 4;
    w = (w & 0xCCCCCCCCCCCCCCCCull) >> 2 | (w & 0x3333333333333333ull) << 2;
    w = (w & 0xAAAAAAAAAAAAAAAAull) >> 1 | (w & 0x5555555555555555ull) << 1;
    return w;
}

}  // namespace

void reverse_bits_in_place(std::span<std::uint8_t> bytes) {
    std::size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        std::uint64_t w;
        std::memcpy(&w, bytes.data() + i, 8);
        w = reverse_bits_per_byte(w);
        std::memcpy(bytes.data() + i, &w, 8);
    }
    for (; i < bytes.size(); ++i) bytes[i] = reverse_bits(bytes[i]);
}

}  // namespace mkcard
