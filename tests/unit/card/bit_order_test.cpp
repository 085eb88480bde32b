// Every bit-order path this CPU offers must agree with the table, whatever the
// length of the run and wherever it starts.

#include <gtest/gtest.h>

#include <ostream>
#include <random>
#include <vector>

#include "card/bit_order.hpp"
#include "card/sector_reader.hpp"

namespace quilbex::card {
namespace {

std::vector<std::byte> randomBytes(size_t length, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::byte> bytes(length);
    for (auto& b : bytes) b = std::byte(random() & 0xFF);
    return bytes;
}

std::vector<std::byte> restoredByTable(std::vector<std::byte> bytes) {
    restoreBitOrderPortable(bytes.data(), bytes.size());
    return bytes;
}

TEST(BitOrder, TableReversesKnownBytes) {
    EXPECT_EQ(bitReverseTable[0x01], 0x80);
    EXPECT_EQ(bitReverseTable[0x03], 0xC0);
    EXPECT_EQ(bitReverseTable[0x0F], 0xF0);
    EXPECT_EQ(bitReverseTable[0x5A], 0x5A);
    EXPECT_EQ(bitReverseTable[0xC0], 0x03);
    for (unsigned i = 0; i < 256; ++i) EXPECT_EQ(bitReverseTable[bitReverseTable[i]], i);
}

TEST(BitOrder, ChosenPathMatchesTable) {
    auto bytes = randomBytes(1000, 7);
    const auto expected = restoredByTable(bytes);
    restoreBitOrder(bytes.data(), bytes.size());
    EXPECT_EQ(bytes, expected);
}

class BitOrderPaths : public ::testing::TestWithParam<BitOrderPath> {};

}  // namespace

// Names the path in test listings instead of dumping its bytes.
void PrintTo(const BitOrderPath& path, std::ostream* out) { *out << path.name; }

namespace {

TEST_P(BitOrderPaths, ReversesEveryByteValue) {
    std::vector<std::byte> bytes(256);
    for (unsigned i = 0; i < 256; ++i) bytes[i] = std::byte(i);
    GetParam().restore(bytes.data(), bytes.size());
    for (unsigned i = 0; i < 256; ++i) EXPECT_EQ(static_cast<unsigned>(bytes[i]), bitReverseTable[i]) << "byte " << i;
}

TEST_P(BitOrderPaths, MatchesTableAtEveryAlignmentAndShortLength) {
    // Guard bytes on both sides catch a path that touches bytes outside its run.
    const auto source = randomBytes(64 + 257 + 64, 11);
    const auto restore = GetParam().restore;
    for (size_t alignment = 0; alignment < 64; ++alignment) {
        for (size_t length = 0; length <= 257; ++length) {
            auto bytes = source;
            auto expected = source;
            restore(bytes.data() + alignment, length);
            restoreBitOrderPortable(expected.data() + alignment, length);
            ASSERT_EQ(bytes, expected) << "alignment " << alignment << " length " << length;
        }
    }
}

TEST_P(BitOrderPaths, MatchesTableOnAWholeBlock) {
    auto bytes = randomBytes(maxReadLength, 13);
    const auto expected = restoredByTable(bytes);
    GetParam().restore(bytes.data(), bytes.size());
    EXPECT_TRUE(bytes == expected);
}

INSTANTIATE_TEST_SUITE_P(EveryAvailablePath, BitOrderPaths, ::testing::ValuesIn(availableBitOrderPaths()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quilbex::card
