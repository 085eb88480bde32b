// The block header and the walk over the card that builds the recording
// table. Cards are images written by quilbex-mkcard; the walk reads them
// through the real device, seen through a ScriptedDevice that records where
// it was sent and fails where a real card cannot be made to.

#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "card/card_device.hpp"
#include "scan/block_format.hpp"
#include "scan/card_scan.hpp"
#include "test_support.hpp"

namespace quilbex::scan {
namespace {

using testing::CapturedConsole;
using testing::ScriptedDevice;
using testing::TempDir;

constexpr int64_t block = 4194304;

std::vector<std::byte> bytes(std::initializer_list<int> values) {
    std::vector<std::byte> result;
    for (int v : values) result.push_back(std::byte{static_cast<uint8_t>(v)});
    return result;
}

TEST(BlockHeader, reads_little_endian_sequence_magic_and_time) {
    const auto header = decodeBlockHeader(bytes({0xAA, 0xBB, 0x34, 0x12, 0x5A, 0x39, 0xCB, 0x26, 0xD6, 0xAB, 0xCF, 0x4A}));
    EXPECT_EQ(header.sequenceNumber, 0x1234);
    EXPECT_EQ(header.magic, 0x26CB395Au);
    EXPECT_EQ(header.startTime, 0x4ACFABD6u);
}

// One walk over a card image.
struct Scan {
    ScanResult result;
    std::vector<int64_t> examinedBlocks;
    std::string out;
    std::string err;

    std::vector<int32_t> bounds() const {
        const auto& b = result.table.blockBounds;
        return {b.begin(), b.begin() + result.table.recordingCount + 1};
    }
};

Scan scanImage(const std::string& image, const std::function<void(ScriptedDevice&)>& script = {},
               bool rescue = false) {
    CapturedConsole captured;
    const platform::DiagnosticLog log(captured.console());
    auto scripted = testing::openScripted(image);
    ScriptedDevice& device = *scripted;
    if (script) script(device);
    card::CardDevice card(std::move(scripted), log);
    const int64_t cardSize = card::getDriveSize(captured.console(), image);
    Scan scan{readFileInfo(card, captured.console(), log, image, cardSize, {nullptr, rescue}),
              device.seekedBlocks(block), "", ""};
    for (int64_t offset : device.seeks) EXPECT_EQ(offset % block, 0) << "seek off a block start";
    scan.out = captured.out();
    scan.err = captured.err();
    return scan;
}

std::vector<int64_t> blocksUpTo(int64_t last) {
    std::vector<int64_t> blocks;
    for (int64_t b = 0; b <= last; ++b) blocks.push_back(b);
    return blocks;
}

class CardScan : public ::testing::Test {
protected:
    void SetUp() override { QUILBEX_REQUIRE_MKCARD(); }

    std::string card(const std::vector<std::string>& items, std::vector<std::string> options = {}) {
        options.insert(options.begin(), {"--payload", "sparse"});
        return testing::makeCard(dir, "card.img", items, options);
    }

    // Overwrites bytes of the image as they lie on the card.
    void patch(const std::string& image, int64_t offset, const std::vector<std::byte>& onCard) {
        std::fstream file(image, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(offset);
        file.write(reinterpret_cast<const char*>(onCard.data()), static_cast<std::streamsize>(onCard.size()));
    }

    void expectSilent(const Scan& scan) {
        EXPECT_EQ(scan.out, "");
        EXPECT_EQ(scan.err, "");
        EXPECT_FALSE(scan.result.readFailure.has_value());
    }

    TempDir dir;
};

TEST_F(CardScan, stops_after_five_blocks_without_magic) {
    const Scan scan = scanImage(card({"junk:6", "rec:2", "junk:1"}));
    EXPECT_EQ(scan.examinedBlocks, blocksUpTo(4));
    EXPECT_EQ(scan.result.table.recordingCount, 0);
    expectSilent(scan);
}

TEST_F(CardScan, finds_a_recording_after_four_blocks_without_magic) {
    const Scan scan = scanImage(card({"junk:4", "rec:2", "junk:1"}));
    EXPECT_EQ(scan.result.table.recordingCount, 1);
    EXPECT_EQ(scan.bounds(), (std::vector<int32_t>{4, 6}));
    EXPECT_EQ(scan.examinedBlocks, blocksUpTo(6));
    expectSilent(scan);
}

TEST_F(CardScan, ends_a_recording_at_the_first_block_without_magic) {
    const Scan scan = scanImage(card({"rec:3", "junk:10"}));
    EXPECT_EQ(scan.result.table.recordingCount, 1);
    EXPECT_EQ(scan.bounds(), (std::vector<int32_t>{0, 3}));
    EXPECT_EQ(scan.examinedBlocks, blocksUpTo(7));
    EXPECT_EQ(scan.result.table.startTimes[0], 0x4A6570F0u) << "2017-03-05 14:07:32";
    expectSilent(scan);
}

TEST_F(CardScan, counts_blocks_without_magic_over_the_whole_walk) {
    // Junk at 1 and 4..7: the fifth ends the walk before the recording at 8.
    const Scan scan = scanImage(card({"blk:0", "junk:1", "rec:2", "junk:4", "rec:2", "junk:1"}));
    EXPECT_EQ(scan.result.table.recordingCount, 2);
    EXPECT_EQ(scan.bounds(), (std::vector<int32_t>{0, 2, 4}));
    EXPECT_EQ(scan.examinedBlocks, blocksUpTo(7));
    expectSilent(scan);
}

TEST_F(CardScan, keeps_start_times_of_each_recording) {
    const Scan scan = scanImage(card({"rec:2@2017-06-15T21:30:44", "rec:1@0x12345678", "junk:1"}));
    ASSERT_EQ(scan.result.table.recordingCount, 2);
    EXPECT_EQ(scan.result.table.startTimes[0], 0x4ACFABD6u);
    EXPECT_EQ(scan.result.table.startTimes[1], 0x12345678u);
}

TEST_F(CardScan, ignores_continuation_blocks_before_the_first_start) {
    const Scan scan = scanImage(card({"blk:5", "rec:2", "junk:1"}));
    EXPECT_EQ(scan.result.table.recordingCount, 1);
    EXPECT_EQ(scan.bounds(), (std::vector<int32_t>{1, 3}));
    expectSilent(scan);
}

TEST_F(CardScan, continues_a_recording_across_junk_when_magic_follows) {
    const Scan scan = scanImage(card({"blk:0", "junk:3", "blk:9", "junk:1"}));
    EXPECT_EQ(scan.result.table.recordingCount, 1);
    EXPECT_EQ(scan.bounds(), (std::vector<int32_t>{0, 5}));
    expectSilent(scan);
}

TEST_F(CardScan, ignores_the_order_of_continuation_numbers) {
    const Scan scan = scanImage(card({"rec:4,seq=0.7.3.3", "junk:1"}));
    EXPECT_EQ(scan.result.table.recordingCount, 1);
    EXPECT_EQ(scan.bounds(), (std::vector<int32_t>{0, 4}));
    expectSilent(scan);
}

TEST_F(CardScan, needs_the_magic_exactly_as_stored) {
    const std::string image = card({"rec:1", "junk:1"});
    ASSERT_EQ(scanImage(image).result.table.recordingCount, 1);

    // The magic's bytes without their bits reversed.
    patch(image, 4, bytes({0x5A, 0x39, 0xCB, 0x26}));
    EXPECT_EQ(scanImage(image).result.table.recordingCount, 0);

    // The stored magic with one bit changed.
    for (const auto& wrong : {bytes({0x5B, 0x9C, 0xD3, 0x64}), bytes({0x5A, 0x9C, 0xD3, 0xE4})}) {
        patch(image, 4, wrong);
        const Scan scan = scanImage(image);
        EXPECT_EQ(scan.result.table.recordingCount, 0);
        expectSilent(scan);
    }

    patch(image, 4, bytes({0x5A, 0x9C, 0xD3, 0x64}));
    EXPECT_EQ(scanImage(image).result.table.recordingCount, 1) << "the patch itself is wrong";
}

TEST_F(CardScan, warns_when_the_card_ends_inside_a_recording) {
    // Four whole blocks (16.99 MiB): the last continues recording 1.
    const Scan scan = scanImage(card({"rec:1", "rec:3"}, {"--size", std::to_string(17 * 1048576 - 1)}));
    EXPECT_EQ(scan.err,
              "Scan error while processing file: 2\n"
              "Sector index exceeded maximum allowed while searching for file end.\n"
              "Card size: 16MB\n"
              "Possible truncated export.\n");
    EXPECT_EQ(scan.out, "");
    EXPECT_EQ(scan.result.table.recordingCount, 2);
    EXPECT_EQ(scan.bounds(), (std::vector<int32_t>{0, 1, 4}));
    EXPECT_EQ(scan.examinedBlocks, blocksUpTo(3));
}

TEST_F(CardScan, does_not_warn_when_the_last_block_starts_a_recording) {
    const Scan scan = scanImage(card({"rec:2", "rec:1"}));
    EXPECT_EQ(scan.result.table.recordingCount, 2);
    EXPECT_EQ(scan.bounds(), (std::vector<int32_t>{0, 2, 3}));
    expectSilent(scan);
}

TEST_F(CardScan, examines_block_zero_of_a_card_smaller_than_a_block) {
    const Scan scan = scanImage(card({"rec:1"}, {"--size", "1000"}));
    EXPECT_EQ(scan.examinedBlocks, (std::vector<int64_t>{0}));
    EXPECT_EQ(scan.result.table.recordingCount, 1);
    EXPECT_EQ(scan.bounds(), (std::vector<int32_t>{0, 1}));
    expectSilent(scan);
}

TEST_F(CardScan, never_examines_a_trailing_partial_block) {
    const Scan scan = scanImage(card({"rec:1x3"}, {"--size", std::to_string(2 * block + 1000)}));
    EXPECT_EQ(scan.examinedBlocks, blocksUpTo(1));
    EXPECT_EQ(scan.result.table.recordingCount, 2);
    EXPECT_EQ(scan.bounds(), (std::vector<int32_t>{0, 1, 2}));
    expectSilent(scan);
}

TEST_F(CardScan, walks_past_80000_blocks_to_the_card_end_growing_the_table) {
    const Scan scan = scanImage(card({"rec:1x80002"}));
    EXPECT_EQ(scan.examinedBlocks.size(), 80002u);
    EXPECT_EQ(scan.examinedBlocks.back(), 80001);
    EXPECT_EQ(scan.result.table.recordingCount, 80002);
    const auto& b = scan.result.table.blockBounds;
    ASSERT_EQ(b.size(), 80003u);
    for (int32_t k = 0; k <= 80002; ++k) ASSERT_EQ(b[static_cast<size_t>(k)], k) << k;
    EXPECT_EQ(scan.result.table.startTimes.size(), 80002u);
    expectSilent(scan);
}

TEST_F(CardScan, stops_at_a_failed_seek_keeping_what_it_found) {
    const Scan scan = scanImage(card({"rec:2", "rec:2", "junk:1"}),
                                [](ScriptedDevice& device) { device.failingSeeks[3 * block] = EIO; });
    EXPECT_EQ(scan.out, std::string("Internal error: 5\n\n") + std::strerror(EIO) + "\n");
    EXPECT_EQ(scan.err, "");
    EXPECT_EQ(scan.examinedBlocks, blocksUpTo(3));
    EXPECT_EQ(scan.result.table.recordingCount, 2);
    EXPECT_EQ(scan.bounds(), (std::vector<int32_t>{0, 2, 3}));
    EXPECT_FALSE(scan.result.readFailure.has_value());
}

TEST_F(CardScan, hands_back_a_failed_read_without_printing_it) {
    const Scan scan = scanImage(card({"rec:2", "rec:2", "junk:1"}), [](ScriptedDevice& device) {
        device.failingRead = {{2, platform::ReadResult{false, 0, platform::SystemError::posix(EIO)}}};
    });
    ASSERT_TRUE(scan.result.readFailure.has_value());
    EXPECT_EQ(scan.result.readFailure->error, platform::SystemError::posix(EIO));
    EXPECT_EQ(scan.examinedBlocks, blocksUpTo(2));
    EXPECT_EQ(scan.result.table.recordingCount, 1);
    EXPECT_EQ(scan.bounds(), (std::vector<int32_t>{0, 2}));
    EXPECT_EQ(scan.out, "");
    EXPECT_EQ(scan.err, "");
}

// With rescue, an unreadable header sector makes its block one without the
// magic that the fifth-block end does not count; followed by a block with
// sequence number 1, it opens a recording with that block's start time.
TEST_F(CardScan, rescue_takes_unreadable_headers_as_blocks_without_magic_that_do_not_count) {
    struct Case {
        std::vector<int64_t> unreadable;
        std::vector<int32_t> bounds;
        std::vector<int32_t> startsTakenFromNext;
    };
    // Blocks 0-2 and 3-4 are recordings, 5-10 junk; header 1 lies inside the
    // first, 7 in the junk (outside the files); 3 and 0 open a recording.
    const std::vector<Case> cases = {
        {{1, 7}, {0, 3, 5}, {}},
        {{1, 3, 7}, {0, 3, 5}, {3}},
        {{0, 3, 7}, {0, 3, 5}, {0, 3}},
    };
    const std::string image = card({"rec:3", "rec:2@0x12345678", "junk:6"});
    for (const Case& c : cases) {
        const auto unreadable = [&](ScriptedDevice& device) {
            for (int64_t b : c.unreadable) device.unreadable[b * block] = EIO;
        };
        const Scan scan = scanImage(image, unreadable, true);
        expectSilent(scan);
        EXPECT_EQ(scan.bounds(), c.bounds);
        EXPECT_EQ(scan.result.table.startsTakenFromNext, c.startsTakenFromNext);
        EXPECT_EQ(scan.result.table.startTimes.front(), 0x4A6570F0u) << "2017-03-05 14:07:32";
        EXPECT_EQ(scan.result.table.startTimes.back(), 0x12345678u);
        EXPECT_EQ(scan.result.badBlockCount, 5);
        EXPECT_EQ(scan.examinedBlocks.back(), 10);
        EXPECT_EQ(scan.result.rescue.unreadableOutside, 512u);
        EXPECT_EQ(scan.result.rescue.stop, card::RescueStop::none);
    }
}

TEST_F(CardScan, rescue_hands_back_the_read_that_says_the_card_is_gone) {
    const Scan scan = scanImage(card({"rec:2", "rec:2"}), [](ScriptedDevice& device) {
        device.unreadable[2 * block] = ENXIO;
    }, true);
    ASSERT_TRUE(scan.result.readFailure.has_value());
    EXPECT_EQ(scan.result.readFailure->error, platform::SystemError::posix(ENXIO));
    EXPECT_EQ(scan.result.rescue.stop, card::RescueStop::cardGone);
    EXPECT_EQ(scan.examinedBlocks, blocksUpTo(2));
    EXPECT_EQ(scan.bounds(), (std::vector<int32_t>{0, 2}));
}

}  // namespace
}  // namespace quilbex::scan
