// The export pipeline end to end on cards held in memory: the archive and the
// console output must not depend on the number of threads, every entry must
// read back as header plus payloads, and every failure must leave the same
// messages, status and archive as with one thread. On a terminal, the live
// progress line must leave the archive as it is.

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "archive_readers.hpp"
#include "card/card_device.hpp"
#include "export/export_recordings.hpp"
#include "output/file_plan.hpp"
#include "output/recording_name.hpp"
#include "output/zip_destination.hpp"
#include "platform/sha256.hpp"
#include "scan/card_scan.hpp"
#include "wav/wav_header.hpp"
#include "memory_card.hpp"
#include "platform/diagnostic_log.hpp"
#include "platform/dos_time.hpp"
#include "platform/system_error.hpp"
#include "report/progress.hpp"
#include "test_support.hpp"
#include "zip/entry_time.hpp"

namespace quilbex::exporting {
namespace {

using report::Terminal;
using testing::CardImage;
using testing::readArchive;
using testing::RecordingPlan;
using testing::Signal;

// Standard output and standard error in one stream, so the order of the two
// is part of what a test compares.
class MergedConsole {
public:
    MergedConsole() : stream_(open_memstream(&buffer_, &size_)), console_(stream_, stream_) {}
    ~MergedConsole() {
        std::fclose(stream_);
        std::free(buffer_);
    }
    MergedConsole(const MergedConsole&) = delete;
    MergedConsole& operator=(const MergedConsole&) = delete;

    platform::Console& console() { return console_; }
    std::string text() {
        std::fflush(stream_);
        return {buffer_ ? buffer_ : "", size_};
    }

private:
    char* buffer_ = nullptr;
    size_t size_ = 0;
    std::FILE* stream_;
    platform::Console console_;
};

struct Faults {
    std::map<int32_t, int> failingSeeks;
    std::optional<int32_t> failingRead;
    uint32_t largestRead = UINT32_MAX;
    std::optional<int32_t> stopAtBlock;
    std::vector<testing::BadArea> badAreas;
    bool rescue = false;  // read on past them, in 512-byte sectors
    // The scan's CRC-32s of the blocks' first sectors, for the check.
    const std::vector<std::optional<uint32_t>>* headerSectorCrcs = nullptr;
};

struct ExportRun {
    ExportStatus status = ExportStatus::completed;
    ExportRescue rescue;
    std::string output;   // standard output and error as written
    std::string archive;  // the archive file's bytes
    int32_t seeks = 0;    // seeks the card saw
    std::vector<int32_t> blocksReadOtherwise;
};

// Empty unless a regular file.
std::string fileBytes(const std::string& path) {
    if (!std::filesystem::is_regular_file(path)) return {};
    std::string bytes(std::filesystem::file_size(path), '\0');
    std::ifstream(path, std::ios::binary).read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

// Verbose, unless a terminal is given.
ExportRun runExport(const std::shared_ptr<const CardImage>& image, const scan::RecordingTable& table, int threads,
                    const std::string& zipPath, const Faults& faults = {},
                    const std::optional<Terminal>& terminal = std::nullopt) {
    auto device = std::make_unique<testing::MemoryCard>(image);
    testing::MemoryCard& fake = *device;
    fake.failingSeeks = faults.failingSeeks;
    fake.failingRead = faults.failingRead;
    fake.largestRead = faults.largestRead;
    fake.badAreas = faults.badAreas;
    std::atomic<int> stop{0};
    fake.stopAtBlock = faults.stopAtBlock;
    fake.stopSignal = &stop;

    MergedConsole console;
    const platform::DiagnosticLog log(console.console(), true);
    card::CardDevice card(std::move(device), log);
    // The archive is made new, so an earlier run's goes first, as an old
    // archive does once the user agreed.
    std::error_code ignored;
    std::filesystem::remove(zipPath, ignored);
    const output::FilePlan plan(table, {});
    output::ZipDestination zip;
    const bool opened = openArchive(zip, zipPath, console.console());
    ExportRequest request{table, card, zip, plan, opened, !terminal, threads, &stop};
    report::Progress progress = report::makeProgress(console.console(), plan, zipPath, !terminal, terminal);
    request.progress = &progress;
    request.rescue = faults.rescue;
    request.sectorSize = 512;
    request.headerSectorCrcs = faults.headerSectorCrcs;
    ExportRun run;
    const ExportResult result = exportRecordings(request, console.console(), log);
    run.status = result.status;
    run.blocksReadOtherwise = result.blocksReadOtherwise;
    run.rescue = result.rescue;
    run.output = console.text();
    run.archive = fileBytes(zipPath);
    run.seeks = fake.seeks;
    return run;
}

ExportRun runExport(const std::shared_ptr<const CardImage>& image, int threads, const std::string& zipPath,
                    const Faults& faults = {}, const std::optional<Terminal>& terminal = std::nullopt) {
    return runExport(image, image->table, threads, zipPath, faults, terminal);
}

// What the user sees must not depend on the thread count.
void expectSameRun(const ExportRun& run, const ExportRun& reference) {
    EXPECT_EQ(run.status, reference.status);
    EXPECT_EQ(run.output, reference.output);
    EXPECT_TRUE(run.archive == reference.archive);
}

// The entry of recording k holding its first `blocksRead` blocks' payloads.
std::string expectedEntry(const CardImage& image, int32_t k, int32_t blocksRead) {
    const auto header = wav::buildWavHeader(image.table.payloadBytes(k));
    std::string entry(reinterpret_cast<const char*>(header.data()), header.size());
    entry.append(reinterpret_cast<const char*>(image.payloads[static_cast<size_t>(k)].data()),
                 static_cast<size_t>(blocksRead) * scan::blockPayloadSize);
    return entry;
}

std::string name(const CardImage& image, int32_t k) {
    return output::recordingName(k, image.table.startTimes[static_cast<size_t>(k)]);
}

// The name as a regular expression.
std::string namePattern(const CardImage& image, int32_t k) {
    return std::regex_replace(name(image, k), std::regex("\\."), "\\.");
}

std::string progressLine(const CardImage& image, int32_t k, uint64_t length, const std::string& zipPath) {
    return "[" + std::to_string(k + 1) + "/" + std::to_string(image.table.recordingCount) + "] Adding " +
           name(image, k) + " length " + std::to_string(length) + " into " + zipPath + "\n";
}

uint64_t entryLength(const CardImage& image, int32_t k, int32_t blocksRead) {
    return expectedEntry(image, k, blocksRead).size();
}

// Many one-block recordings, a few longer ones, an empty one and one of
// noise that deflate cannot shrink.
const std::shared_ptr<const CardImage>& mixedCard() {
    static const auto image = testing::makeCardImage({{1}, {3}, {1, Signal::noise}, {0}, {1}, {2}, {1}, {1}});
    return image;
}

// Three recordings of one, three and one blocks: blocks 0, 1-3 and 4.
const std::shared_ptr<const CardImage>& smallCard() {
    static const auto image = testing::makeCardImage({{1}, {3}, {1}});
    return image;
}

// On smallCard(), the seek to the second block of recording 1 fails.
Faults seekFailsInRecording1() {
    Faults faults;
    faults.failingSeeks[2] = EIO;
    return faults;
}

TEST(ExportPipeline, CheckNamesTheBlocksWhoseFirstSectorReadsOtherwiseThanInTheScan) {
    const testing::TempDir dir;
    MergedConsole console;
    const platform::DiagnosticLog log(console.console(), true);
    card::CardDevice card(std::make_unique<testing::MemoryCard>(smallCard()), log);
    const auto size = static_cast<int64_t>(smallCard()->bytes.size());
    auto crcs = scan::walkCard(card, console.console(), log, 512, size, {nullptr, false, true}).headerSectorCrcs;
    ASSERT_EQ(crcs.size(), 5u);
    Faults faults;
    faults.headerSectorCrcs = &crcs;
    EXPECT_EQ(runExport(smallCard(), 2, dir.path("a.zip"), faults).blocksReadOtherwise, std::vector<int32_t>{});
    // As if the scan had read other bytes in the middle block of recording 1.
    *crcs[2] ^= 1;
    EXPECT_EQ(runExport(smallCard(), 2, dir.path("a.zip"), faults).blocksReadOtherwise, std::vector<int32_t>{2});
}

// Keeps each file's bytes as written, and the digest the pipeline hands it.
class DigestRecorder final : public output::Destination {
public:
    bool takesDeflated() const override { return false; }
    bool wantsDigest() const override { return true; }
    bool beginFile(const output::FileHeading&) override {
        files.emplace_back();
        return true;
    }
    bool write(std::span<const std::byte> bytes) override {
        files.back().first.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return true;
    }
    bool finishFile(const output::FileEnd& end) override {
        files.back().second = end.digest;
        return end.length == files.back().first.size();
    }
    bool close() override { return true; }
    std::vector<std::string> failureLines() const override { return {}; }

    std::vector<std::pair<std::string, platform::Sha256Digest>> files;
};

TEST(ExportPipeline, ADestinationThatWantsDigestsGetsTheSha256OfEachFilesBytes) {
    output::PlanOptions pieces;
    pieces.secondsPerFile = 1;
    pieces.guano = true;
    for (const output::PlanOptions& options : {output::PlanOptions{}, pieces}) {
        for (int threads : {1, 3}) {
            SCOPED_TRACE(std::to_string(options.secondsPerFile) + " s a file, " + std::to_string(threads) + " threads");
            MergedConsole console;
            const platform::DiagnosticLog log(console.console(), false);
            card::CardDevice card(std::make_unique<testing::MemoryCard>(mixedCard()), log);
            const output::FilePlan plan(mixedCard()->table, options);
            DigestRecorder folder;
            ExportRequest request{mixedCard()->table, card, folder, plan, true, false, threads, nullptr};
            report::Progress progress = report::makeProgress(console.console(), plan, "folder", false, std::nullopt);
            request.progress = &progress;
            ASSERT_EQ(exportRecordings(request, console.console(), log).status, ExportStatus::completed);
            ASSERT_EQ(folder.files.size(), plan.fileCount());
            for (const auto& [bytes, digest] : folder.files) {
                platform::Sha256 hash;
                hash.add(std::as_bytes(std::span(bytes)));
                EXPECT_EQ(digest, hash.finish()) << bytes.size() << " bytes";
            }
        }
    }
}

TEST(ExportPipeline, ArchiveAndOutputAreTheSameForAnyThreadCount) {
    const testing::TempDir dir;
    const auto one = runExport(mixedCard(), 1, dir.path("a.zip"));
    ASSERT_EQ(one.status, ExportStatus::completed);
    for (int threads : {2, 3, 16}) {
        SCOPED_TRACE(std::to_string(threads) + " threads");
        expectSameRun(runExport(mixedCard(), threads, dir.path("a.zip")), one);
    }
}

TEST(ExportPipeline, EntriesHoldTheWavHeaderAndEveryPayload) {
    const testing::TempDir dir;
    const CardImage& image = *mixedCard();
    const auto run = runExport(mixedCard(), 3, dir.path("a.zip"));
    ASSERT_EQ(run.status, ExportStatus::completed);
    const auto entries = readArchive(dir.path("a.zip"));
    ASSERT_EQ(entries.size(), static_cast<size_t>(image.table.recordingCount));
    std::string progress;
    for (int32_t k = 0; k < image.table.recordingCount; ++k) {
        const auto& entry = entries[static_cast<size_t>(k)];
        const auto expected = expectedEntry(image, k, image.table.blockCount(k));
        EXPECT_EQ(entry.name, name(image, k));
        EXPECT_EQ(entry.dosDate, image.table.startTimes[static_cast<size_t>(k)]);
        EXPECT_EQ(entry.size, expected.size()) << entry.name;
        EXPECT_TRUE(entry.data == expected) << entry.name;
        EXPECT_TRUE(entry.crcMatches) << entry.name;
        progress += progressLine(image, k, expected.size(), dir.path("a.zip"));
    }
    EXPECT_EQ(run.output, progress);
}

TEST(ExportPipeline, ShortReadsGiveTheSameArchive) {
    const testing::TempDir dir;
    const auto whole = runExport(smallCard(), 2, dir.path("a.zip"));
    Faults faults;
    faults.largestRead = 512 * 1024;
    const auto pieces = runExport(smallCard(), 2, dir.path("a.zip"), faults);
    EXPECT_EQ(pieces.status, ExportStatus::completed);
    EXPECT_TRUE(pieces.archive == whole.archive);
    EXPECT_EQ(pieces.output, whole.output);
}

TEST(ExportPipeline, FailedSeekStoresTheRecordingUpToItAndGoesOn) {
    const testing::TempDir dir;
    const CardImage& image = *smallCard();
    const std::string zip = dir.path("a.zip");
    const auto one = runExport(smallCard(), 1, zip, seekFailsInRecording1());
    const auto four = runExport(smallCard(), 4, zip, seekFailsInRecording1());

    EXPECT_EQ(one.status, ExportStatus::completed);
    EXPECT_EQ(one.output, progressLine(image, 0, entryLength(image, 0, 1), zip) + "Error: " + std::to_string(EIO) +
                              "\n" + platform::systemErrorText(EIO) + "Failed to set file pointer\n" +
                              progressLine(image, 1, entryLength(image, 1, 1), zip) +
                              progressLine(image, 2, entryLength(image, 2, 1), zip));
    const auto entries = readArchive(zip);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_TRUE(entries[1].data == expectedEntry(image, 1, 1));
    EXPECT_TRUE(entries[1].crcMatches);
    EXPECT_TRUE(entries[2].data == expectedEntry(image, 2, 1));
    // The entry cut short at the seek is kept, but not counted as exported.
    EXPECT_EQ(one.rescue.storedWhole, 2);

    expectSameRun(four, one);
}

TEST(ExportPipeline, FailedReadKeepsWhatWasReadAndEndsTheExport) {
    const testing::TempDir dir;
    const CardImage& image = *smallCard();
    const std::string zip = dir.path("a.zip");
    Faults faults;
    faults.failingRead = 2;  // the second block of recording 1
    const auto one = runExport(smallCard(), 1, zip, faults);
    const auto four = runExport(smallCard(), 4, zip, faults);

    EXPECT_EQ(one.status, ExportStatus::readFailed);
    // No progress line for the recording being read: the read ended it.
    EXPECT_EQ(one.output, progressLine(image, 0, entryLength(image, 0, 1), zip) + platform::systemErrorText(EIO) +
                              "Read failed 0\n");
    const auto entries = readArchive(zip);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_TRUE(entries[0].data == expectedEntry(image, 0, 1));
    EXPECT_TRUE(entries[1].data == expectedEntry(image, 1, 1));
    EXPECT_TRUE(entries[1].crcMatches);
    EXPECT_EQ(one.seeks, 3);

    expectSameRun(four, one);
    EXPECT_EQ(four.seeks, one.seeks);
}

TEST(ExportPipeline, RefusedSeekSkipsTheRecordingAndGoesOn) {
    const testing::TempDir dir;
    const CardImage& image = *smallCard();
    const std::string zip = dir.path("a.zip");
    // Recording 0 starts one block before the card: its first seek is refused.
    scan::RecordingTable table = image.table;
    table.blockBounds[0] = -1;
    const auto one = runExport(smallCard(), table, 1, zip);
    const auto four = runExport(smallCard(), table, 4, zip);

    EXPECT_EQ(one.status, ExportStatus::completed);
    // The card device logs the refusal itself, from the reader's thread: only
    // in this order because nothing is printed before it.
    EXPECT_EQ(one.output, "fileSeek(323): Internal error: Negative file pointer value: -4194304\n"
                          "extractFile(410): Bad seek: index(-4194304) sector(-1)\nCan't extract file: " +
                              name(image, 0) + "\nSkipping file\n" +
                              progressLine(image, 1, entryLength(image, 1, 3), zip) +
                              progressLine(image, 2, entryLength(image, 2, 1), zip));
    const auto entries = readArchive(zip);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, name(image, 1));
    EXPECT_TRUE(entries[0].data == expectedEntry(image, 1, 3));

    EXPECT_EQ(four.output, one.output);
    EXPECT_TRUE(four.archive == one.archive);
}

TEST(ExportPipeline, FailedArchiveWriteStopsEverythingPromptly) {
    const testing::TempDir dir;
    const std::string zip = dir.path("a.zip");
    const auto image = testing::makeCardImage(std::vector<RecordingPlan>(12));
    // Room for the first entry's header and no more, as on a full disk.
    const testing::FileSizeLimit noRoom(100);
    const auto one = runExport(image, 1, zip);
    const auto four = runExport(image, 4, zip);

    EXPECT_EQ(one.status, ExportStatus::addFailed);
    EXPECT_EQ(one.output,
              progressLine(*image, 0, entryLength(*image, 0, 1), zip) + "\nZip archive failure\nFile too large\n");
    EXPECT_EQ(four.status, one.status);
    EXPECT_EQ(four.output, one.output);
    // The reader stopped with the writer instead of reading the whole card.
    EXPECT_LT(four.seeks, 12);
}

TEST(ExportPipeline, UnopenableArchiveStillReadsTheFirstRecording) {
    const testing::TempDir dir;
    const CardImage& image = *smallCard();
    const std::string zip = dir.path("missing/a.zip");
    Faults faults;
    faults.failingSeeks[0] = EIO;
    const auto one = runExport(smallCard(), 1, zip, faults);
    const auto four = runExport(smallCard(), 4, zip, faults);

    EXPECT_EQ(one.status, ExportStatus::addFailed);
    EXPECT_EQ(one.output, "Error: Can't make the zip file. Bad filename?\nNo such file or directory\nError: " +
                              std::to_string(EIO) + "\n" + platform::systemErrorText(EIO) +
                              "Failed to set file pointer\n" + progressLine(image, 0, entryLength(image, 0, 0), zip) +
                              "\nZip archive failure\nNo such file or directory\n");
    EXPECT_EQ(four.status, one.status);
    EXPECT_EQ(four.output, one.output);
}

TEST(ExportPipeline, StopSignalStoresTheRecordingBeingReadAndFinishesTheArchive) {
    const testing::TempDir dir;
    const CardImage& image = *smallCard();
    const std::string zip = dir.path("a.zip");
    Faults faults;
    faults.stopAtBlock = 2;  // raised while the second block of recording 1 is read
    const auto run = runExport(smallCard(), 2, zip, faults);

    EXPECT_EQ(run.status, ExportStatus::interrupted);
    EXPECT_EQ(run.output, progressLine(image, 0, entryLength(image, 0, 1), zip));
    const auto entries = readArchive(zip);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_TRUE(entries[1].data == expectedEntry(image, 1, 2));
    EXPECT_TRUE(entries[1].crcMatches);
}

TEST(ExportPipeline, TerminalGetsALiveLineWithMessagesBelowItAndASummary) {
    const testing::TempDir dir;
    const CardImage& image = *smallCard();
    const std::string zip = dir.path("a.zip");
    const auto plain = runExport(smallCard(), 2, zip, seekFailsInRecording1());
    const auto live = runExport(smallCard(), 2, zip, seekFailsInRecording1(), Terminal{[] { return 200; }});

    EXPECT_EQ(live.status, ExportStatus::completed);
    EXPECT_TRUE(live.archive == plain.archive);
    // Of the 21.0 MB of the three entries, a block each is read.
    const std::string figures = R"(  \d+%  [\d.]+/21\.0 MB[^\r\n]*\r\n)";
    EXPECT_TRUE(std::regex_search(live.output, std::regex("\rAdding \\[2/3\\]: " + namePattern(image, 1) + figures +
                                                          "Error: " + std::to_string(EIO) + "\n")))
        << live.output;
    EXPECT_NE(live.output.find(platform::systemErrorText(EIO) + "Failed to set file pointer\n"), std::string::npos);
    EXPECT_TRUE(std::regex_search(live.output, std::regex("\rAdding \\[3/3\\]: " + namePattern(image, 2) + figures +
                                                          R"(3 recordings, 12\.6 MB in \d+:\d\d \([\d.]+ MB/s\)\n$)")))
        << live.output;
}

TEST(ExportPipeline, DateWarningsFollowTheProgressLineOfTheirRecording) {
    const testing::TempDir dir;
    const std::string zip = dir.path("a.zip");
    // Month 13 of 2017.
    const uint32_t badTime = (37u << 25) | (13u << 21) | (5u << 16) | 0x70F0u;
    const auto image = testing::makeCardImage({{2, Signal::sweep, badTime}, {1}});
    const auto date = zip::makeFileInfo(platform::decodeDosDateTime(badTime), badTime);
    ASSERT_FALSE(date.warnings.empty());
    std::string warnings;
    for (const auto& warning : date.warnings) warnings += warning + "\n";
    Faults faults;
    faults.failingSeeks[1] = EIO;
    const auto one = runExport(image, 1, zip, faults);
    const auto four = runExport(image, 4, zip, faults);

    EXPECT_EQ(one.output, "Error: " + std::to_string(EIO) + "\n" + platform::systemErrorText(EIO) +
                              "Failed to set file pointer\n" + progressLine(*image, 0, entryLength(*image, 0, 1), zip) +
                              warnings + progressLine(*image, 1, entryLength(*image, 1, 1), zip));
    const auto entries = readArchive(zip);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].dosDate, date.dosDate);
    EXPECT_EQ(four.output, one.output);
    EXPECT_TRUE(four.archive == one.archive);
}

// Rescue: card bytes [start, end) unreadable, read on past them.
Faults rescueFrom(int64_t start, int64_t end, int errorCode = EIO) {
    Faults faults;
    faults.badAreas = {{start, end, errorCode}};
    faults.rescue = true;
    return faults;
}

std::string blockLine(int32_t block, uint64_t bytes) {
    return "Block " + std::to_string(block) + ": " + std::to_string(bytes) +
           " unreadable bytes in 1 place, zero-filled\n";
}

// Recording k's entry with its payload bytes [from, to) zeroed.
std::string zeroedEntry(const CardImage& image, int32_t k, int32_t blocksRead, size_t from, size_t to) {
    std::string entry = expectedEntry(image, k, blocksRead);
    const size_t header = entry.size() - static_cast<size_t>(blocksRead) * scan::blockPayloadSize;
    std::fill(entry.begin() + static_cast<std::ptrdiff_t>(header + from),
              entry.begin() + static_cast<std::ptrdiff_t>(header + to), '\0');
    return entry;
}

TEST(ExportPipeline, RescueZeroFillsAnUnreadableSectorAndGoesOn) {
    const testing::TempDir dir;
    const CardImage& image = *smallCard();
    const std::string zip = dir.path("a.zip");
    // A sector in the payload of block 2, the second block of recording 1.
    const int64_t bad = 2 * scan::blockSize + (1 << 20);
    const auto one = runExport(smallCard(), 1, zip, rescueFrom(bad, bad + 512));
    const auto four = runExport(smallCard(), 4, zip, rescueFrom(bad, bad + 512));

    EXPECT_EQ(one.status, ExportStatus::completed);
    EXPECT_EQ(one.output, progressLine(image, 0, entryLength(image, 0, 1), zip) + blockLine(2, 512) +
                              progressLine(image, 1, entryLength(image, 1, 3), zip) +
                              progressLine(image, 2, entryLength(image, 2, 1), zip));
    const auto entries = readArchive(zip);
    ASSERT_EQ(entries.size(), 3u);
    const size_t at = scan::blockPayloadSize + (1 << 20) - scan::blockHeaderSize;
    EXPECT_TRUE(entries[1].data == zeroedEntry(image, 1, 3, at, at + 512));
    EXPECT_TRUE(entries[1].crcMatches);
    EXPECT_TRUE(entries[2].data == expectedEntry(image, 2, 1));
    ASSERT_EQ(one.rescue.damaged.size(), 1u);
    EXPECT_EQ(one.rescue.damaged[0].recording, 1);
    EXPECT_EQ(one.rescue.damaged[0].unreadableBytes, 512u);
    EXPECT_EQ(one.rescue.storedWhole, 3);

    expectSameRun(four, one);
}

TEST(ExportPipeline, RescueEndsAfter16DeadBlocksKeepingThemZeroFilledAsOnePlace) {
    const testing::TempDir dir;
    const auto image = testing::makeCardImage({{1}, {19}});
    const std::string zip = dir.path("a.zip");
    const auto run = runExport(image, 2, zip, rescueFrom(2 * scan::blockSize, INT64_MAX));

    EXPECT_EQ(run.status, ExportStatus::readFailed);
    std::string output = progressLine(*image, 0, entryLength(*image, 0, 1), zip);
    for (int32_t b = 2; b < 2 + card::maxDeadBlocksInARow - 1; ++b) output += blockLine(b, scan::blockSize);
    EXPECT_EQ(run.output, output + platform::systemErrorText(EIO) + "Read failed 0\n");
    EXPECT_EQ(run.rescue.stop, card::RescueStop::deadRun);
    ASSERT_EQ(run.rescue.damaged.size(), 1u);
    EXPECT_EQ(run.rescue.damaged[0].places, 1u);
    // The sixteenth dead block ends the reading before it is stored.
    const int32_t blocksRead = card::maxDeadBlocksInARow;
    const auto entries = readArchive(zip);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_TRUE(entries[1].data == zeroedEntry(*image, 1, blocksRead, scan::blockPayloadSize,
                                              static_cast<size_t>(blocksRead) * scan::blockPayloadSize));
}

TEST(ExportPipeline, StopSignalDuringARescueLeavesItsBlockOut) {
    const testing::TempDir dir;
    const CardImage& image = *smallCard();
    const std::string zip = dir.path("a.zip");
    Faults faults = rescueFrom(2 * scan::blockSize, 2 * scan::blockSize + 512);
    faults.stopAtBlock = 2;
    const auto run = runExport(smallCard(), 2, zip, faults);

    EXPECT_EQ(run.status, ExportStatus::interrupted);
    EXPECT_EQ(run.rescue.stop, card::RescueStop::interrupted);
    const auto entries = readArchive(zip);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_TRUE(entries[1].data == expectedEntry(image, 1, 1));
}

}  // namespace
}  // namespace quilbex::exporting
