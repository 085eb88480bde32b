// Reading on past unreadable sectors: what is kept, what is zero-filled, and
// the bounds that keep a dying card from costing hours.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "card/sector_rescue.hpp"
#include "memory_card.hpp"
#include "platform/aligned_buffer.hpp"

namespace quilbex::card {
namespace {

using testing::BadArea;
using testing::MemoryCard;

constexpr uint32_t sector = 512;
constexpr int64_t block = scan::blockSize;

// One block of recording on a card that fails where the test says.
class SectorRescueTest : public ::testing::Test {
protected:
    SectorRescueTest() : area_(block, card_.bufferAlignment()) {}

    // The whole read of block 0, then its rescue.
    AreaRescue rescueBlock(SectorRescue& rescue) {
        card_.seek(0);
        const auto failure = readSectors(card_, area_.span());
        EXPECT_TRUE(failure.has_value()) << "the block must be unreadable as a whole";
        return rescue.recover(0, 0, area_.span(), failure.value_or(ReadFailure{}));
    }

    // Block 0's bytes as they read from a healthy card, zeros in [from, to).
    std::vector<std::byte> expected(int64_t from = 0, int64_t to = 0) const {
        std::vector<std::byte> bytes(image_->bytes.begin(), image_->bytes.begin() + block);
        restoreBitOrder(bytes.data(), bytes.size());
        std::fill(bytes.begin() + from, bytes.begin() + to, std::byte{0});
        return bytes;
    }

    bool areaHolds(const std::vector<std::byte>& bytes) {
        return std::equal(bytes.begin(), bytes.end(), area_.data());
    }

    std::shared_ptr<const testing::CardImage> image_ = testing::makeCardImage({{1}});
    MemoryCard card_{image_};
    platform::AlignedBuffer area_;
};

TEST_F(SectorRescueTest, zero_fills_a_lone_bad_sector_and_keeps_every_other_byte) {
    const int64_t bad = 1000 * sector;
    card_.badAreas = {{bad, bad + sector}};
    SectorRescue rescue(card_, sector);
    const AreaRescue result = rescueBlock(rescue);

    EXPECT_EQ(result.stop, RescueStop::none);
    EXPECT_EQ(result.damage.unreadableBytes, sector);
    EXPECT_EQ(result.damage.places, 1u);
    EXPECT_FALSE(result.damage.startsUnreadable || result.damage.endsUnreadable);
    EXPECT_EQ(result.lastFailure.error, platform::SystemError::posix(EIO));
    EXPECT_TRUE(areaHolds(expected(bad, bad + sector)));
    // The whole block, its 64 KiB piece, its 4 KiB piece, the sector twice.
    EXPECT_EQ(card_.failedReads, 5);
}

TEST_F(SectorRescueTest, counts_adjacent_bad_sectors_as_one_place) {
    card_.badAreas = {{0, 3 * sector}, {5 * sector, 6 * sector}, {block - sector, block}};
    SectorRescue rescue(card_, sector);
    const AreaRescue result = rescueBlock(rescue);

    EXPECT_EQ(result.damage.unreadableBytes, 5 * sector);
    EXPECT_EQ(result.damage.places, 3u);
    EXPECT_TRUE(result.damage.startsUnreadable && result.damage.endsUnreadable);
    std::vector<std::byte> bytes = expected(0, 3 * sector);
    std::fill(bytes.begin() + 5 * sector, bytes.begin() + 6 * sector, std::byte{0});
    std::fill(bytes.end() - sector, bytes.end(), std::byte{0});
    EXPECT_TRUE(areaHolds(bytes));
}

TEST_F(SectorRescueTest, keeps_a_sector_that_reads_on_its_second_try) {
    // Fails the whole block, the 64 KiB and 4 KiB pieces and the sector's first try.
    card_.badAreas = {{4096, 4096 + sector, EIO, 4}};
    SectorRescue rescue(card_, sector);
    const AreaRescue result = rescueBlock(rescue);

    EXPECT_FALSE(result.damage.any());
    EXPECT_TRUE(areaHolds(expected()));
}

TEST_F(SectorRescueTest, reads_every_waiting_piece_once_after_64_failed_reads) {
    struct Case {
        int64_t from, to;  // the dead bytes
        int failedReads;
    };
    // A dead block: 64 failed reads, then the last 64 KiB piece, split before
    // them, is still read. 16 KiB dead after the first sector: the 64 KiB and
    // the five 4 KiB pieces around it, and every one of its 32 sectors is read
    // before the limit stops the second tries.
    const Case cases[] = {{0, block, maxFailedReadsPerArea + 1}, {sector, sector + 16384, maxFailedReadsPerArea}};
    for (const Case& c : cases) {
        card_.badAreas = {{c.from, c.to}};
        card_.failedReads = 0;
        SectorRescue rescue(card_, sector);
        const AreaRescue result = rescueBlock(rescue);

        EXPECT_EQ(card_.failedReads, c.failedReads) << c.to;
        EXPECT_EQ(result.damage.unreadableBytes, static_cast<uint64_t>(c.to - c.from));
        EXPECT_EQ(result.damage.places, 1u);
        EXPECT_TRUE(areaHolds(expected(c.from, c.to))) << c.to;
    }
}

TEST_F(SectorRescueTest, stops_at_the_first_read_that_says_the_card_is_gone) {
    card_.badAreas = {{2 * sector, 3 * sector}, {block / 2, block, ENXIO}};
    SectorRescue rescue(card_, sector);
    const AreaRescue result = rescueBlock(rescue);

    EXPECT_EQ(result.stop, RescueStop::cardGone);
    EXPECT_EQ(result.lastFailure.error, platform::SystemError::posix(ENXIO));
    // The 64 KiB pieces are read in card order: the first in the upper half
    // ends it all, before the failed lower piece is split.
    EXPECT_EQ(card_.failedReads, 1 + 1 + 1);
}

TEST_F(SectorRescueTest, stops_after_16_blocks_in_a_row_without_a_readable_sector) {
    card_.badAreas = {{0, INT64_MAX}};
    SectorRescue rescue(card_, sector);
    // The header sectors of blocks, as the scan reads them; block 3 reads.
    const auto deadHeader = [&](int32_t b) {
        const ReadFailure failure{0, platform::SystemError::posix(EIO)};
        return rescue.recover(b, b * block, area_.span().first(sector), failure).stop;
    };
    for (int32_t b : {0, 1, 2}) EXPECT_EQ(deadHeader(b), RescueStop::none);
    for (int32_t b = 4; b < 4 + maxDeadBlocksInARow - 1; ++b) EXPECT_EQ(deadHeader(b), RescueStop::none) << b;
    EXPECT_EQ(deadHeader(4 + maxDeadBlocksInARow - 1), RescueStop::deadRun);
}

}  // namespace
}  // namespace quilbex::card
