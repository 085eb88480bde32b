// The archive after a failed write: the writer ends it with the entries
// finished before the failure, all of them when their directory can still be
// written, else as many as the directory has room for. Writes fail at a
// file size limit, as on a disk that fills up, with what fits written first.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "archive_readers.hpp"
#include "platform/write_behind.hpp"
#include "test_support.hpp"
#include "zip/zip_writer.hpp"
#include "zip_test_support.hpp"

namespace quilbex::zip {
namespace {

using namespace quilbex::testing;

constexpr uint32_t june30th2019At235958 = 0x4EDEBF7D;

std::vector<Entry> smallEntries() {
    std::string counts;
    for (int i = 0; i < 5000; ++i) counts += std::to_string(i * i % 977) + ",";
    return {{"first.wav", "first recording"},
            {"empty.wav", "", 0x00210000},  // 1980-01-01 00:00:00
            {"counts.wav", counts, june30th2019At235958}};
}

// Which call of the writer failed: the entry's index times 3, plus 0 for
// beginEntry, 1 for writeCompressed and 2 for finishEntry.
constexpr int64_t noCallFailed = -1;

int64_t addEntries(ZipWriter& zip, const std::vector<Entry>& entries) {
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry& entry = entries[i];
        const auto base = static_cast<int64_t>(3 * i);
        if (!zip.beginEntry(entry.name, entry.dosDate, entry.data.size())) return base;
        if (!zip.writeCompressed(rawDeflate(entry.data))) return base + 1;
        if (!zip.finishEntry(entry.data.size(), crcOf(entry.data))) return base + 2;
    }
    return noCallFailed;
}

struct LimitedWrite {
    int64_t failedCall = noCallFailed;  // as addEntries tells it
    bool callAfterFailureSucceeded = false;
    bool closed = false;
    platform::SystemError lastError;
};

// Writes the entries to the archive and closes it, no file growing past
// sizeLimit bytes meanwhile.
LimitedWrite writeWithSizeLimit(const std::string& archive, uint64_t sizeLimit, const std::vector<Entry>& entries) {
    ZipWriter zip;
    if (!zip.open(archive)) throw std::runtime_error("cannot open " + archive);
    const FileSizeLimit limit(sizeLimit);
    LimitedWrite result;
    result.failedCall = addEntries(zip, entries);
    result.callAfterFailureSucceeded =
        result.failedCall != noCallFailed && zip.beginEntry("late.wav", march5th2017At140732, 4);
    result.closed = zip.close();
    result.lastError = zip.lastError();
    return result;
}

// The archive the entries make when nothing fails, as bytes.
std::string intactArchive(const TempDir& dir, const std::vector<Entry>& entries) {
    const std::string path = dir.path("intact.zip");
    std::filesystem::remove(path);
    ZipWriter zip;
    if (!zip.open(path) || addEntries(zip, entries) != noCallFailed || !zip.close())
        throw std::runtime_error("intact write failed");
    return contents(path);
}

std::vector<Entry> plus(std::vector<Entry> entries, Entry last) {
    entries.push_back(std::move(last));
    return entries;
}

// The archive is byte for byte the one written with the first `kept` entries
// alone, and both readers find exactly those.
void expectTheFirstEntriesAlone(const TempDir& dir, const std::string& archive, const std::vector<Entry>& entries,
                                size_t kept) {
    const std::vector<Entry> first(entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(kept));
    EXPECT_TRUE(contents(archive) == intactArchive(dir, first))
        << "the archive differs from the one of its first " << kept << " entries";
    std::string names = "None [";
    for (const Entry& entry : first) names += (&entry == &first.front() ? "'" : ", '") + entry.name + "'";
    EXPECT_EQ(python("print(z.testzip(), [i.filename for i in z.infolist()])", archive), names + "]\n");
    // unzip warns about an archive without entries.
    if (kept > 0) {
        EXPECT_TRUE(unzipTestPasses(archive));
    }
}

// How many of the entries the archive can keep in `room` bytes: the most
// whose archive, directory and all, is no larger.
size_t entriesFitting(const TempDir& dir, const std::vector<Entry>& entries, uint64_t room) {
    size_t kept = entries.size();
    while (kept > 0 &&
           intactArchive(dir, {entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(kept)}).size() > room)
        --kept;
    return kept;
}

void expectFailureAt(const LimitedWrite& write, int64_t call) {
    EXPECT_EQ(write.failedCall, call);
    EXPECT_FALSE(write.callAfterFailureSucceeded);
    EXPECT_FALSE(write.closed);
    // The first failure's reason, not that of the writes that shortened the
    // archive after it.
    EXPECT_EQ(write.lastError, platform::SystemError::posix(EFBIG));
}

TEST(ZipFailure, write_failing_mid_entry_leaves_the_archive_of_the_entries_before) {
    TempDir dir;
    const auto finished = smallEntries();
    const std::string archive = dir.path("out.zip");
    const auto all = plus(finished, {"failed.wav", incompressible(1 << 20)});
    expectFailureAt(writeWithSizeLimit(archive, intactArchive(dir, finished).size() + 10000, all), 3 * 3 + 1);
    expectTheFirstEntriesAlone(dir, archive, all, 3);
}

TEST(ZipFailure, header_failing_drops_the_entries_whose_directory_has_no_room) {
    TempDir dir;
    const auto finished = smallEntries();
    const std::string intact = intactArchive(dir, finished);
    const std::string archive = dir.path("out.zip");
    // Room for 10 bytes of the next header where the intact directory starts:
    // the directory fits only without the last entry, whose data make room.
    const uint64_t room = littleEndian(intact, intact.size() - 6, 4) + 10;
    expectFailureAt(writeWithSizeLimit(archive, room, plus(finished, {"failed.wav", "data"})), 3 * 3);
    ASSERT_EQ(entriesFitting(dir, finished, room), 2u);
    expectTheFirstEntriesAlone(dir, archive, finished, 2);
}

TEST(ZipFailure, first_entry_failing_leaves_an_empty_archive) {
    TempDir dir;
    const std::string archive = dir.path("out.zip");
    expectFailureAt(writeWithSizeLimit(archive, 1000, {{"failed.wav", incompressible(1 << 20)}}), 1);
    EXPECT_EQ(contents(archive), fields({{0x06054b50, 4}, {0, 18}}));
    expectTheFirstEntriesAlone(dir, archive, {}, 0);
}

TEST(ZipFailure, directory_failing_keeps_the_entries_it_has_room_for) {
    TempDir dir;
    std::vector<Entry> entries;
    for (int i = 0; i < 300; ++i) entries.push_back({"e" + std::to_string(i), incompressible(500)});
    const std::string intact = intactArchive(dir, entries);
    const std::string archive = dir.path("out.zip");
    const uint64_t room = littleEndian(intact, intact.size() - 6, 4) + 1000;
    expectFailureAt(writeWithSizeLimit(archive, room, entries), noCallFailed);
    const size_t kept = entriesFitting(dir, entries, room);
    ASSERT_GT(kept, 0u);
    ASSERT_LT(kept, entries.size() - 10);
    expectTheFirstEntriesAlone(dir, archive, entries, kept);
}

TEST(ZipFailure, entries_reaching_65535_get_zip64_end_records) {
    constexpr int entryCount = 0xFFFF;
    TempDir dir;
    std::vector<Entry> finished;
    for (int i = 0; i < entryCount; ++i) finished.push_back({"e" + std::to_string(i), "tiny"});
    const std::string intact = intactArchive(dir, finished);
    const std::string archive = dir.path("out.zip");

    // Longer than the directory it leaves room for.
    expectFailureAt(writeWithSizeLimit(archive, intact.size() + 1000,
                                       plus(finished, {"failed.wav", incompressible(8 << 20)})),
                    3 * entryCount + 1);

    const std::string kept = contents(archive);
    EXPECT_TRUE(kept == intact) << "the archive differs from the one never given the failed entry";
    ASSERT_GT(kept.size(), 98u);
    EXPECT_EQ(littleEndian(kept, kept.size() - 98, 4), 0x06064b50u);  // the zip64 record
    EXPECT_EQ(littleEndian(kept, kept.size() - 98 + 32, 8), uint64_t{entryCount});
    EXPECT_TRUE(unzipTestPasses(archive));
    EXPECT_EQ(python("n = z.infolist(); print(len(n), n[0].filename, n[-1].filename, z.testzip())", archive),
              "65535 e0 e65534 None\n");
}

// A write refused whole, as on a full Windows volume, leaves no room the file
// reached past the finished entries; their whole directory is still tried,
// and here it fits.
TEST(ZipFailure, write_refused_whole_still_keeps_every_finished_entry) {
    TempDir dir;
    const auto finished = plus(smallEntries(), {"added.wav", "added later", june30th2019At235958});
    const std::string intact = intactArchive(dir, finished);
    const std::string archive = dir.path("out.zip");
    ZipWriter zip;
    ASSERT_TRUE(zip.open(archive));
    ASSERT_EQ(addEntries(zip, finished), noCallFailed);
    {
        const FileSizeLimit full(std::filesystem::file_size(archive));
        EXPECT_FALSE(zip.beginEntry("failed.wav", june30th2019At235958, 1 << 20));
    }
    EXPECT_FALSE(zip.close());
    EXPECT_EQ(zip.lastError(), platform::SystemError::posix(EFBIG));
    EXPECT_TRUE(contents(archive) == intact) << "the archive differs from the one never given the failed entry";
    EXPECT_TRUE(unzipTestPasses(archive));
    EXPECT_EQ(python("print(z.testzip(), [i.filename for i in z.infolist()])", archive),
              "None ['first.wav', 'empty.wav', 'counts.wav', 'added.wav']\n");
}

// The flushes along the way run on another thread; a failed one must reach
// the file's own flush, which the system may no longer tell of it.
TEST(ZipFailure, failed_flush_along_the_way_is_reported_once) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);  // a pipe cannot be flushed
    platform::WriteBehind behind;
    behind.wrote(ends[1], 1 << 20);
    EXPECT_FALSE(behind.settle().any()) << "no flush before a whole stretch was written";
    behind.wrote(ends[1], 1 << 30);
    EXPECT_EQ(behind.settle(), platform::SystemError::posix(EINVAL));
    EXPECT_FALSE(behind.settle().any());
    ::close(ends[0]);
    ::close(ends[1]);
}

}  // namespace
}  // namespace quilbex::zip
