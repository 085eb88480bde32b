// The literals-only deflate block, judged by zlib's inflate: data whose
// counts would call for codes deeper than deflate's 15 bits, and chunks
// with a single byte value or none, each as a chunk followed by a sync
// flush and again as an entry's last chunk, must inflate to the data.

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

#include "export/huffman_code.hpp"
#include "export/literal_deflate.hpp"
#include "raw_inflate.hpp"

namespace quilbex::exporting {
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

}  // namespace
}  // namespace quilbex::exporting
