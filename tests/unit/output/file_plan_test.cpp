// The plan of files: pieces' sizes, names and start times.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "output/file_plan.hpp"
#include "output/recording_name.hpp"
#include "test_support.hpp"

namespace quilbex::output {
namespace {

using testing::dosDateTime;

constexpr uint64_t block = scan::blockPayloadSize;
constexpr uint64_t second = 768000;

// Recordings of the given block counts and MS-DOS start times.
scan::RecordingTable tableOf(const std::vector<std::pair<int32_t, uint32_t>>& recordings) {
    scan::RecordingTable table;
    for (const auto& [blocks, start] : recordings) {
        const int32_t first = table.blockBounds.back();
        table.open(first, start);
        table.extendTo(first + blocks);
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
        std::vector<int32_t> pieces;         // each file's index in its recording, -1 when whole
        std::vector<int64_t> offsetSeconds;  // each file's start within its recording
        uint64_t totalBytes;                 // headers of 56 bytes included
    };
    for (const auto& c : std::vector<Case>{
             {0, {5 * block, 0}, {-1, -1}, {0, 0}, 5 * block + 2 * 56},
             {10, {10 * second, 10 * second, 5 * block - 20 * second, 0}, {0, 1, 2, 0}, {0, 10, 20, 0},
              5 * block + 4 * 56},
             {27, {27 * second, 5 * block - 27 * second, 0}, {0, 1, 0}, {0, 27, 0}, 5 * block + 3 * 56},
             {28, {5 * block, 0}, {0, 0}, {0, 0}, 5 * block + 2 * 56}}) {
        SCOPED_TRACE(c.seconds);
        const FilePlan plan(table, {c.seconds, false, {}});
        const auto files = filesOf(plan);
        ASSERT_EQ(files.size(), c.pieceBytes.size());
        EXPECT_EQ(plan.fileCount(), files.size());
        uint64_t offset = 0;
        for (size_t i = 0; i < files.size(); ++i) {
            const PlannedFile& file = files[i];
            if (i > 0 && file.recording != files[i - 1].recording) offset = 0;
            EXPECT_EQ(file.payloadOffset, offset);
            EXPECT_EQ(file.payloadBytes, c.pieceBytes[i]);
            EXPECT_EQ(file.offsetSeconds, c.offsetSeconds[i]);
            EXPECT_EQ(file.piece, c.pieces[i]);
            EXPECT_EQ(file.heading.plannedSize, 56 + file.payloadBytes);
            offset += file.payloadBytes;
        }
        EXPECT_EQ(plan.totalBytes(), c.totalBytes);
    }
}

TEST(FilePlan, names_pieces_by_their_own_start_across_calendar_ends) {
    // 5 blocks in pieces of 10 s: the second piece starts 10 s in.
    for (const auto& [start, second] : std::vector<std::pair<uint32_t, std::string>>{
             {dosDateTime(2017, 3, 5, 23, 59, 25), "wav0000_2017_03_06__00_00_00.wav"},    // midnight
             {dosDateTime(2016, 12, 31, 23, 59, 28), "wav0000_2017_01_01__00_00_06.wav"},  // year's end
             {dosDateTime(2016, 2, 28, 23, 59, 28), "wav0000_2016_02_29__00_00_06.wav"},   // leap day
             {dosDateTime(2017, 2, 28, 23, 59, 28), "wav0000_2017_03_01__00_00_06.wav"},   // none
             {dosDateTime(2017, 2, 30, 23, 59, 28), "wav0000_2017_02_30__23_59_56_001.wav"},  // no date
             {dosDateTime(2017, 3, 5, 23, 59, 30), "wav0000_2017_03_05__23_59_60_001.wav"}}) {  // second 60
        SCOPED_TRACE(second);
        const auto table = tableOf({{5, start}});
        const auto files = filesOf(FilePlan(table, {10, false, {}}));
        ASSERT_EQ(files.size(), 3u);
        EXPECT_EQ(files[1].heading.name, second);
        EXPECT_EQ(files[1].heading.storedStart, start);
        EXPECT_EQ(fileName(0, files[1].heading.start).substr(0, 28), second.substr(0, 28));
    }
}

TEST(FilePlan, names_files_with_a_prefix_from_their_own_starts) {
    struct Case {
        const char* what;
        std::vector<std::pair<int32_t, uint32_t>> recordings;  // blocks, start
        uint32_t seconds;
        std::vector<std::string> names;
    };
    // dosDateTime takes the stored half seconds.
    const uint32_t nine = dosDateTime(2024, 6, 1, 21, 0, 7);
    for (const auto& c : std::vector<Case>{
             {"same start second", {{1, nine}, {1, nine}, {1, dosDateTime(2024, 6, 1, 21, 5, 0)}, {1, nine}}, 0,
              {"TQ28_20240601_210014.wav", "TQ28_20240601_210014_1.wav", "TQ28_20240601_210500.wav",
               "TQ28_20240601_210014_2.wav"}},
             // 5 blocks are pieces at 0, 10 and 20 s; 2 blocks at 0 and 10 s.
             {"clock set back into pieces",
              {{5, dosDateTime(2024, 6, 1, 21, 0, 0)}, {2, dosDateTime(2024, 6, 1, 21, 0, 5)}}, 10,
              {"TQ28_20240601_210000.wav", "TQ28_20240601_210010.wav", "TQ28_20240601_210020.wav",
               "TQ28_20240601_210010_1.wav", "TQ28_20240601_210020_1.wav"}},
             {"across midnight", {{5, dosDateTime(2016, 12, 31, 23, 59, 25)}}, 10,
              {"TQ28_20161231_235950.wav", "TQ28_20170101_000000.wav", "TQ28_20170101_000010.wav"}},
             {"no valid date", {{1, nine}, {5, dosDateTime(2017, 2, 30, 1, 0, 0)}, {1, dosDateTime(2017, 3, 5, 1, 0, 30)}},
              10, {"TQ28_20240601_210014.wav", "TQ28_0001_000.wav", "TQ28_0001_001.wav", "TQ28_0001_002.wav",
                   "TQ28_0002_000.wav"}},
             {"no valid date, whole", {{1, dosDateTime(2017, 2, 30, 1, 0, 0)}}, 0, {"TQ28_0000.wav"}}}) {
        SCOPED_TRACE(c.what);
        const auto table = tableOf(c.recordings);
        const FilePlan plan(table, {c.seconds, true, {}, "TQ28"});
        std::vector<std::string> names;
        plan.forEach([&](const PlannedFile& file) {
            names.push_back(file.heading.name);
            // The way back to the card: the recording's own name.
            const auto trailer = plan.trailer(file, 0);
            const std::string text(reinterpret_cast<const char*>(trailer.data()), trailer.size());
            EXPECT_NE(text.find("Original Filename: " + recordingName(file.recording, file.heading.storedStart)),
                      std::string::npos);
            return true;
        });
        EXPECT_EQ(names, c.names);
    }
}

}  // namespace
}  // namespace quilbex::output
