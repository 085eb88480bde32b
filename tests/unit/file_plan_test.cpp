// The plan of files: pieces' sizes, names and start times, and the GUANO
// chunk's room counted in every file's size.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "output/file_plan.hpp"
#include "output/recording_name.hpp"
#include "platform/little_endian.hpp"
#include "test_support.hpp"
#include "wav/guano.hpp"
#include "wav/wav_header.hpp"

namespace quilbex::output {
namespace {

using testing::dosDateTime;

constexpr uint64_t block = scan::blockPayloadSize;
constexpr uint64_t second = 768000;

// Recordings of the given block counts and MS-DOS start times.
scan::RecordingTable tableOf(const std::vector<std::pair<int32_t, uint32_t>>& recordings) {
    scan::RecordingTable table;
    for (const auto& [blocks, start] : recordings) {
        const auto k = static_cast<size_t>(table.recordingCount++);
        table.blockBounds[k + 1] = table.blockBounds[k] + blocks;
        table.startTimes[k] = start;
    }
    return table;
}

std::vector<PlannedFile> filesOf(const FilePlan& plan) {
    std::vector<PlannedFile> files;
    plan.forEach([&](const PlannedFile& file) {
        files.push_back(file);
        return true;
    });
    return files;
}

TEST(FilePlan, cuts_recordings_into_pieces_the_last_shorter_and_never_empty) {
    // 5 blocks: 20971360 bytes, 27.3 s.
    const auto table = tableOf({{5, dosDateTime(2017, 3, 5, 14, 7, 16)}, {0, dosDateTime(2017, 3, 5, 15, 0, 0)}});
    struct Case {
        uint32_t seconds;
        std::vector<uint64_t> pieceBytes;
    };
    for (const auto& c : std::vector<Case>{{0, {5 * block, 0}},
                                           {10, {10 * second, 10 * second, 5 * block - 20 * second, 0}},
                                           {27, {27 * second, 5 * block - 27 * second, 0}},
                                           {28, {5 * block, 0}}}) {
        SCOPED_TRACE(c.seconds);
        const FilePlan plan(table, {c.seconds, false, {}});
        const auto files = filesOf(plan);
        ASSERT_EQ(files.size(), c.pieceBytes.size());
        EXPECT_EQ(plan.fileCount(), files.size());
        uint64_t offset = 0;
        uint64_t total = 0;
        for (size_t i = 0; i < files.size(); ++i) {
            const PlannedFile& file = files[i];
            if (i > 0 && file.recording != files[i - 1].recording) offset = 0;
            EXPECT_EQ(file.payloadOffset, offset);
            EXPECT_EQ(file.payloadBytes, c.pieceBytes[i]);
            EXPECT_EQ(file.offsetSeconds, static_cast<int64_t>(offset / second));
            EXPECT_EQ(file.piece, c.seconds == 0 ? -1 : static_cast<int32_t>(offset / (c.seconds * second)));
            EXPECT_EQ(file.heading.plannedSize, 56 + file.payloadBytes);
            offset += file.payloadBytes;
            total += file.heading.plannedSize;
        }
        EXPECT_EQ(plan.totalBytes(), total);
    }
}

TEST(FilePlan, names_pieces_by_their_own_start_across_calendar_ends) {
    struct Case {
        uint32_t start;
        std::vector<std::string> names;
    };
    // 5 blocks in pieces of 10 s: offsets 0, 10 and 20 s.
    for (const auto& c : std::vector<Case>{
             {dosDateTime(2017, 3, 5, 23, 59, 25),  // 23:59:50 across midnight
              {"wav0000_2017_03_05__23_59_50.wav", "wav0000_2017_03_06__00_00_00.wav",
               "wav0000_2017_03_06__00_00_10.wav"}},
             {dosDateTime(2016, 12, 31, 23, 59, 28),  // across the year's end
              {"wav0000_2016_12_31__23_59_56.wav", "wav0000_2017_01_01__00_00_06.wav",
               "wav0000_2017_01_01__00_00_16.wav"}},
             {dosDateTime(2016, 2, 28, 23, 59, 28),  // onto a leap day
              {"wav0000_2016_02_28__23_59_56.wav", "wav0000_2016_02_29__00_00_06.wav",
               "wav0000_2016_02_29__00_00_16.wav"}},
             {dosDateTime(2017, 2, 28, 23, 59, 28),  // no leap day
              {"wav0000_2017_02_28__23_59_56.wav", "wav0000_2017_03_01__00_00_06.wav",
               "wav0000_2017_03_01__00_00_16.wav"}},
             {dosDateTime(2017, 2, 30, 23, 59, 28),  // no valid date: numbered
              {"wav0000_2017_02_30__23_59_56_000.wav", "wav0000_2017_02_30__23_59_56_001.wav",
               "wav0000_2017_02_30__23_59_56_002.wav"}},
             {dosDateTime(2017, 3, 5, 23, 59, 30),  // second 60
              {"wav0000_2017_03_05__23_59_60_000.wav", "wav0000_2017_03_05__23_59_60_001.wav",
               "wav0000_2017_03_05__23_59_60_002.wav"}}}) {
        SCOPED_TRACE(c.names[0]);
        const auto table = tableOf({{5, c.start}});
        const auto files = filesOf(FilePlan(table, {10, false, {}}));
        ASSERT_EQ(files.size(), c.names.size());
        for (size_t i = 0; i < files.size(); ++i) {
            EXPECT_EQ(files[i].heading.name, c.names[i]);
            EXPECT_EQ(files[i].heading.storedStart, c.start);
            const auto& t = files[i].heading.start;
            EXPECT_EQ(fileName(0, t).substr(0, 28), c.names[i].substr(0, 28));
        }
    }
}

TEST(FilePlan, counts_the_guano_chunk_in_header_and_size) {
    const auto table = tableOf({{3, dosDateTime(2017, 3, 5, 14, 7, 16)}});
    const FilePlan plan(table, {5, true, 120});
    plan.forEach([&](const PlannedFile& file) {
        const auto trailer = plan.trailer(file, 512);
        const auto header = plan.header(file);
        EXPECT_EQ(header.size() + file.payloadBytes + trailer.size(), file.heading.plannedSize);
        EXPECT_EQ(platform::readLittleEndian(header, 4, 4), file.heading.plannedSize - 8);
        EXPECT_EQ(plan.trailer(file, 0).size(), trailer.size());
        EXPECT_EQ(trailer.size() % 2, 0u);
        return true;
    });
}

}  // namespace
}  // namespace quilbex::output
