#pragma once
// Length-limited canonical Huffman codes, as deflate's dynamic blocks carry
// them: lengths built from symbol counts, and the codes those lengths stand
// for, bit-reversed for a stream that is written least significant bit first.

#include <cstdint>
#include <span>

namespace quilbex::deflate {

// The most symbols a code here has: deflate's 256 literals and end-of-block.
inline constexpr int maxCodeSymbols = 257;

// Fills `lengths` (one per count, at most maxCodeSymbols) with a complete
// prefix code no longer than maxBits, shorter codes for larger counts. A
// symbol with a zero count gets length 0, except that a code always has at
// least two symbols: deflate's readers reject a code that is not complete.
// The lengths depend only on the counts.
void buildCodeLengths(std::span<const uint32_t> counts, int maxBits, std::span<uint8_t> lengths);

// Fills `codes` with the canonical code of each length, bit-reversed; a
// symbol of length 0 gets 0.
void buildCanonicalCodes(std::span<const uint8_t> lengths, std::span<uint16_t> codes);

}  // namespace quilbex::deflate
