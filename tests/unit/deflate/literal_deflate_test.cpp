// The literals-only deflate block, judged by zlib's inflate: data whose
// counts would call for codes deeper than deflate's 15 bits, and chunks
// with a single byte value or none, each as a chunk followed by a sync
// flush and again as an entry's last chunk, must inflate to the data. And
// the compressor's choice of deflate per chunk: never more than 1 % larger
// than ISA-L alone, on audio-like noise, silence, tones and random bytes.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <string>
#include <vector>

#include "export/chunk_compressor.hpp"
#include "deflate/huffman_code.hpp"
#include "deflate/literal_deflate.hpp"
#include "raw_inflate.hpp"

namespace quilbex::deflate {
using exporting::Chunk;
using exporting::ChunkCompressor;
namespace {

// Byte value v occurs fib(v + 1) times: a Huffman code for these counts is
// as deep as there are values.
std::vector<std::byte> fibonacciBytes(int values) {
    std::vector<std::byte> data;
    uint32_t a = 1, b = 1;
    for (int v = 0; v < values; ++v) {
        data.insert(data.end(), a, std::byte(v));
        b = std::exchange(a, b) + b;
    }
    return data;
}

// The data as two chunks of an entry: a block with its sync flush, then the
// same block as the final one.
std::vector<std::byte> deflateTwice(const std::vector<std::byte>& data) {
    LiteralDeflate literals;
    std::vector<std::byte> out;
    for (const bool last : {false, true}) {
        const size_t planned = literals.plan(countBytes(data), last);
        const size_t start = out.size();
        out.resize(start + planned + LiteralDeflate::slack);
        EXPECT_EQ(literals.write(data, out.data() + start), planned);
        out.resize(start + planned);
    }
    return out;
}

TEST(LiteralDeflate, CodesStayWithin15BitsAndComplete) {
    const auto data = fibonacciBytes(27);
    const auto counts = countBytes(data);
    std::vector<uint8_t> lengths(256);
    buildCodeLengths(counts, 15, lengths);
    EXPECT_EQ(*std::max_element(lengths.begin(), lengths.end()), 15);
    const double kraft = std::accumulate(lengths.begin(), lengths.end(), 0.0,
                                         [](double sum, uint8_t l) { return l ? sum + 1.0 / (1 << l) : sum; });
    EXPECT_EQ(kraft, 1.0);
}

TEST(LiteralDeflate, ZlibInflatesEveryKindOfChunk) {
    const struct {
        std::string name;
        std::vector<std::byte> data;
    } cases[] = {
        {"codes deeper than 15 bits", fibonacciBytes(27)},
        {"one byte value", std::vector<std::byte>(100001, std::byte{'A'})},
        {"one byte", {std::byte{0xff}}},
        {"empty", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto expected = c.data;
        expected.insert(expected.end(), c.data.begin(), c.data.end());
        EXPECT_EQ(testing::inflateRaw(deflateTwice(c.data)), expected);
    }
}

// One 1 MiB chunk of 16-bit samples: sample(i) for each.
template <typename Sample>
std::vector<std::byte> samples(Sample sample) {
    std::vector<std::byte> data(Chunk::capacity);
    for (size_t i = 0; i < data.size() / 2; ++i) {
        const auto value = static_cast<uint16_t>(sample(i));
        data[2 * i] = std::byte(value & 0xff);
        data[2 * i + 1] = std::byte(value >> 8);
    }
    return data;
}

// The chunk's deflate data, as the last chunk of an entry.
std::vector<std::byte> compressed(ChunkCompressor& compressor, const std::vector<std::byte>& data) {
    Chunk chunk;
    chunk.reset(0, true);
    chunk.last = true;
    chunk.data = data;
    compressor.compress(chunk);
    EXPECT_TRUE(chunk.deflated);
    const auto out = chunk.compressedData();
    return {out.begin(), out.end()};
}

TEST(ChunkCompressor, EachChunkDeflatesAtMostOnePercentLargerThanByIsalAlone) {
    uint32_t state = 1;
    const auto next = [&state] { return state = state * 1664525u + 1013904223u; };
    const struct {
        std::string name;
        std::vector<std::byte> data;
        bool smaller;  // than by ISA-L alone: matches are rare
    } cases[] = {
        {"noise floor", samples([&](size_t) { return int(next() >> 24) + int(next() >> 24) - 255; }), true},
        {"silence", std::vector<std::byte>(Chunk::capacity), false},
        {"tone", samples([](size_t i) { return int(std::lround(6000 * std::sin(double(i % 96) * 6.2832 / 96))); }),
         false},
        {"random bytes", samples([&](size_t) { return int(next() >> 16); }), false},
    };
    ChunkCompressor ours;
    ChunkCompressor isalOnly(DeflateMode::isalOnly);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto deflated = compressed(ours, c.data);
        const size_t byIsal = compressed(isalOnly, c.data).size();
        EXPECT_LE(deflated.size(), byIsal + byIsal / 100);
        EXPECT_EQ(deflated.size() < byIsal, c.smaller);
        EXPECT_EQ(testing::inflateRaw(deflated), c.data);
    }
}

}  // namespace
}  // namespace quilbex::deflate
