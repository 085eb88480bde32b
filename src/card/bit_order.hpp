#pragma once
// The recorder stores every byte with its eight bits reversed. Nothing reads
// card data before its bit order is restored here.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace quilbex::card {

// Entry i is i with its bits reversed; applying it twice gives i back.
constexpr std::array<uint8_t, 256> buildBitReverseTable() {
    std::array<uint8_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned reversed = 0;
        for (unsigned k = 0; k < 8; ++k) reversed |= ((i >> k) & 1u) << (7 - k);
        table[i] = static_cast<uint8_t>(reversed);
    }
    return table;
}

inline constexpr std::array<uint8_t, 256> bitReverseTable = buildBitReverseTable();

// The reference: one table lookup per byte.
void restoreBitOrderPortable(std::byte* data, size_t length);

// The fastest way this CPU offers; same result as the reference.
void restoreBitOrder(std::byte* data, size_t length);

// One way of restoring the bit order. Every one gives the reference's result
// for any length and alignment.
struct BitOrderPath {
    std::string_view name;
    void (*restore)(std::byte* data, size_t length);
};

// The ways this build can take on this CPU: the portable table first, the
// one restoreBitOrder uses last. Tests and benchmarks run each of them.
std::vector<BitOrderPath> availableBitOrderPaths();

}  // namespace quilbex::card
