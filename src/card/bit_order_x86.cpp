// x86: the reversal is two nibble lookups per byte, done sixteen (SSSE3) or
// thirty-two (AVX2) bytes at a time with pshufb. Both are compiled for their
// own instruction set and picked at run time, so one binary runs everywhere.

#include <immintrin.h>

#include "card/bit_order.hpp"

namespace quilbex::card {
namespace {

// reversed(b) = reversed(low nibble) << 4 | reversed(high nibble).
constexpr std::array<uint8_t, 16> lowNibbleTable() {
    std::array<uint8_t, 16> table{};
    for (unsigned i = 0; i < 16; ++i) table[i] = bitReverseTable[i];
    return table;
}

constexpr std::array<uint8_t, 16> highNibbleTable() {
    std::array<uint8_t, 16> table{};
    for (unsigned i = 0; i < 16; ++i) table[i] = bitReverseTable[i << 4];
    return table;
}

alignas(16) constexpr auto lowNibbles = lowNibbleTable();
alignas(16) constexpr auto highNibbles = highNibbleTable();

struct Ssse3Tables {
    __m128i low, high, mask;
};

__attribute__((target("ssse3"))) inline __m128i reverse16(__m128i v, const Ssse3Tables& t) {
    const __m128i lo = _mm_and_si128(v, t.mask);
    const __m128i hi = _mm_and_si128(_mm_srli_epi16(v, 4), t.mask);
    return _mm_or_si128(_mm_shuffle_epi8(t.low, lo), _mm_shuffle_epi8(t.high, hi));
}

__attribute__((target("ssse3"))) void restoreBitOrderSsse3(std::byte* data, size_t length) {
    const Ssse3Tables t{_mm_load_si128(reinterpret_cast<const __m128i*>(lowNibbles.data())),
                        _mm_load_si128(reinterpret_cast<const __m128i*>(highNibbles.data())),
                        _mm_set1_epi8(0x0F)};
    auto* p = reinterpret_cast<__m128i*>(data);
    size_t i = 0;
    for (; i + 64 <= length; i += 64, p += 4) {
        const __m128i a = _mm_loadu_si128(p), b = _mm_loadu_si128(p + 1);
        const __m128i c = _mm_loadu_si128(p + 2), d = _mm_loadu_si128(p + 3);
        _mm_storeu_si128(p, reverse16(a, t));
        _mm_storeu_si128(p + 1, reverse16(b, t));
        _mm_storeu_si128(p + 2, reverse16(c, t));
        _mm_storeu_si128(p + 3, reverse16(d, t));
    }
    for (; i + 16 <= length; i += 16, ++p) _mm_storeu_si128(p, reverse16(_mm_loadu_si128(p), t));
    restoreBitOrderPortable(data + i, length - i);
}

struct Avx2Tables {
    __m256i low, high, mask;
};

__attribute__((target("avx2"))) inline __m256i reverse32(__m256i v, const Avx2Tables& t) {
    const __m256i lo = _mm256_and_si256(v, t.mask);
    const __m256i hi = _mm256_and_si256(_mm256_srli_epi16(v, 4), t.mask);
    return _mm256_or_si256(_mm256_shuffle_epi8(t.low, lo), _mm256_shuffle_epi8(t.high, hi));
}

__attribute__((target("avx2"))) void restoreBitOrderAvx2(std::byte* data, size_t length) {
    // pshufb looks up within each 128-bit lane, so both lanes hold the table.
    const Avx2Tables t{_mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(lowNibbles.data()))),
                       _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(highNibbles.data()))),
                       _mm256_set1_epi8(0x0F)};
    auto* p = reinterpret_cast<__m256i*>(data);
    size_t i = 0;
    for (; i + 128 <= length; i += 128, p += 4) {
        const __m256i a = _mm256_loadu_si256(p), b = _mm256_loadu_si256(p + 1);
        const __m256i c = _mm256_loadu_si256(p + 2), d = _mm256_loadu_si256(p + 3);
        _mm256_storeu_si256(p, reverse32(a, t));
        _mm256_storeu_si256(p + 1, reverse32(b, t));
        _mm256_storeu_si256(p + 2, reverse32(c, t));
        _mm256_storeu_si256(p + 3, reverse32(d, t));
    }
    for (; i + 32 <= length; i += 32, ++p) _mm256_storeu_si256(p, reverse32(_mm256_loadu_si256(p), t));
    restoreBitOrderSsse3(data + i, length - i);
}

}  // namespace

std::vector<BitOrderPath> availableBitOrderPaths() {
    // Tests may ask before the CPU probe's own constructor has run.
    __builtin_cpu_init();
    std::vector<BitOrderPath> paths{{"portable", restoreBitOrderPortable}};
    if (__builtin_cpu_supports("ssse3")) paths.push_back({"ssse3", restoreBitOrderSsse3});
    // AVX2 hands its tail to SSSE3, which every AVX2 CPU has.
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("ssse3")) paths.push_back({"avx2", restoreBitOrderAvx2});
    return paths;
}

}  // namespace quilbex::card
