#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "export/zip_salvage.hpp"
#include "export/zip_writer.hpp"
#include "archive_readers.hpp"
#include "test_support.hpp"

namespace quilbex::exporting {
namespace {

using testing::TempDir;

constexpr uint32_t march5th2017At140732 = 0x4A6570F0;
constexpr uint32_t june30th2019At235958 = 0x4EDEBF7D;

using testing::output;
using testing::python;
using testing::unzipTestPasses;

std::string contents(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

uint64_t littleEndian(const std::string& bytes, size_t offset, size_t width) {
    uint64_t value = 0;
    for (size_t i = 0; i < width; ++i) value |= uint64_t{static_cast<unsigned char>(bytes.at(offset + i))} << (8 * i);
    return value;
}

// Little-endian fields, each a value and its width in bytes; a field wider
// than 8 bytes is padded with zeros.
std::string fields(std::initializer_list<std::pair<uint64_t, size_t>> values) {
    std::string bytes;
    for (const auto& [value, width] : values)
        for (size_t i = 0; i < width; ++i) bytes.push_back(i < 8 ? static_cast<char>(value >> (8 * i)) : '\0');
    return bytes;
}

std::vector<std::byte> rawDeflate(std::string_view data) {
    z_stream stream{};
    if (deflateInit2(&stream, 1, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    std::vector<std::byte> out(deflateBound(&stream, data.size()));
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    ::deflate(&stream, Z_FINISH);
    out.resize(out.size() - stream.avail_out);
    deflateEnd(&stream);
    return out;
}

uint32_t crcOf(std::string_view data) {
    return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

// Bytes that deflate cannot shrink, so that an entry's size on disk is known
// in advance.
std::string incompressible(size_t size) {
    std::string bytes(size, '\0');
    uint64_t state = 0x9E3779B97F4A7C15;
    for (char& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        byte = static_cast<char>(state >> 56);
    }
    return bytes;
}

struct Entry {
    std::string name;
    std::string data;
    uint32_t dosDate = march5th2017At140732;
};

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
constexpr int64_t callAfterFailureSucceeded = -2;
constexpr int64_t childDied = -3;

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

// Writes the entries to the archive in a child process whose writes to
// files fail with EFBIG past sizeLimit bytes, and closes it. The child's
// answer: the failed call as addEntries tells it, or
// callAfterFailureSucceeded when the writer accepted an entry after a
// failure; childDied when it gave none.
int64_t writeWithSizeLimit(const std::string& archive, int mode, uint64_t sizeLimit,
                           const std::vector<Entry>& entries) {
    int answerPipe[2];
    if (::pipe(answerPipe) != 0) throw std::runtime_error("pipe failed");
    const pid_t child = ::fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        ::close(answerPipe[0]);
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = sizeLimit;
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(1);
        int64_t answer = noCallFailed;
        {
            ZipWriter zip;
            if (!zip.open(archive, mode)) ::_exit(1);
            answer = addEntries(zip, entries);
            if (answer != noCallFailed && zip.beginEntry("late.wav", march5th2017At140732, 4))
                answer = callAfterFailureSucceeded;
            zip.close();
        }
        const bool told = ::write(answerPipe[1], &answer, sizeof answer) == sizeof answer;
        ::_exit(told ? 0 : 1);
    }
    ::close(answerPipe[1]);
    int64_t answer = childDied;
    if (::read(answerPipe[0], &answer, sizeof answer) != sizeof answer) answer = childDied;
    ::close(answerPipe[0]);
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return childDied;
    return answer;
}

// The archive the entries make when nothing fails, as bytes.
std::string intactArchive(const TempDir& dir, const std::vector<Entry>& entries) {
    const std::string path = dir.path("intact.zip");
    ZipWriter zip;
    if (!zip.open(path, 1) || addEntries(zip, entries) != noCallFailed) throw std::runtime_error("intact write failed");
    zip.close();
    if (zip.lastError() != 0) throw std::runtime_error("intact close failed");
    return contents(path);
}

std::vector<Entry> plus(std::vector<Entry> entries, Entry last) {
    entries.push_back(std::move(last));
    return entries;
}

// The salvaged archive is byte for byte the one written without the failed
// entry, and readers find exactly the small entries in it.
void expectTheSmallEntriesAlone(const std::string& archive, const std::string& intact) {
    EXPECT_TRUE(contents(archive) == intact) << "the archive differs from the one never given the failed entry";
    EXPECT_TRUE(unzipTestPasses(archive));
    EXPECT_EQ(python("print(z.testzip(), [i.filename for i in z.infolist()])", archive),
              "None ['first.wav', 'empty.wav', 'counts.wav']\n");
}

TEST(ZipSalvage, write_failing_mid_entry_leaves_the_archive_of_the_entries_before) {
    TempDir dir;
    const auto finished = smallEntries();
    const std::string intact = intactArchive(dir, finished);
    const std::string archive = dir.path("out.zip");

    // The failed entry is many minizip buffers long: a write of its data fails.
    const auto all = plus(finished, {"failed.wav", incompressible(1 << 20)});
    ASSERT_EQ(writeWithSizeLimit(archive, 1, intact.size() + 10000, all), 3 * 3 + 1);

    expectTheSmallEntriesAlone(archive, intact);
}

TEST(ZipSalvage, finish_failing_drops_the_entry_it_ends) {
    TempDir dir;
    const auto finished = smallEntries();
    const std::string intact = intactArchive(dir, finished);
    const std::string archive = dir.path("out.zip");

    // The failed entry fits minizip's buffer: only its finish writes it.
    const auto all = plus(finished, {"failed.wav", incompressible(20000)});
    ASSERT_EQ(writeWithSizeLimit(archive, 1, intact.size() + 100, all), 3 * 3 + 2);

    expectTheSmallEntriesAlone(archive, intact);
}

TEST(ZipSalvage, first_entry_failing_leaves_an_empty_archive) {
    TempDir dir;
    const std::string archive = dir.path("out.zip");
    ASSERT_EQ(writeWithSizeLimit(archive, 1, 1000, {{"failed.wav", incompressible(1 << 20)}}), 1);

    EXPECT_EQ(contents(archive), fields({{0x06054b50, 4}, {0, 18}}));
    EXPECT_EQ(python("print(z.testzip(), z.namelist())", archive), "None []\n");
}

TEST(ZipSalvage, entries_reaching_65535_get_zip64_end_records) {
    constexpr int entryCount = 0xFFFF;
    TempDir dir;
    std::vector<Entry> finished;
    for (int i = 0; i < entryCount; ++i) finished.push_back({"e" + std::to_string(i), "tiny"});
    const std::string intact = intactArchive(dir, finished);
    const std::string archive = dir.path("out.zip");

    // Longer than the directory it leaves room for.
    const auto all = plus(finished, {"failed.wav", incompressible(8 << 20)});
    ASSERT_EQ(writeWithSizeLimit(archive, 1, intact.size() + 1000, all), 3 * entryCount + 1);

    const std::string salvaged = contents(archive);
    EXPECT_TRUE(salvaged == intact) << "the archive differs from the one never given the failed entry";
    ASSERT_GT(salvaged.size(), 98u);
    EXPECT_EQ(littleEndian(salvaged, salvaged.size() - 98, 4), 0x06064b50u);  // the zip64 record
    EXPECT_EQ(littleEndian(salvaged, salvaged.size() - 98 + 32, 8), uint64_t{entryCount});
    EXPECT_TRUE(unzipTestPasses(archive));
    EXPECT_EQ(python("n = z.infolist(); print(len(n), n[0].filename, n[-1].filename, z.testzip())", archive),
              "65535 e0 e65534 None\n");
}

TEST(ZipSalvage, appended_archive_keeps_its_old_entries) {
    TempDir dir;
    const auto old = smallEntries();
    const std::string oldArchive = intactArchive(dir, old);
    const std::vector<Entry> added = {{"added.wav", "added later", june30th2019At235958}};
    const std::string grown = dir.write("grown.zip", oldArchive);
    {
        ZipWriter zip;
        ASSERT_TRUE(zip.open(grown, 2));
        ASSERT_EQ(addEntries(zip, added), noCallFailed);
    }
    const std::string intact = contents(grown);
    const std::string archive = dir.write("out.zip", oldArchive);

    const auto all = plus(added, {"failed.wav", incompressible(1 << 20)});
    ASSERT_EQ(writeWithSizeLimit(archive, 2, intact.size() + 10000, all), 1 * 3 + 1);

    EXPECT_TRUE(contents(archive) == intact) << "the archive differs from the one never given the failed entry";
    EXPECT_TRUE(unzipTestPasses(archive));
    EXPECT_EQ(python("print(z.testzip(), [i.filename for i in z.infolist()])", archive),
              "None ['first.wav', 'empty.wav', 'counts.wav', 'added.wav']\n");
}

// A local header as minizip leaves it once the entry is finished.
std::string localHeader(const std::string& name, uint64_t crc, uint64_t compressed32, uint64_t uncompressed32,
                        const std::string& zip64Field) {
    const bool zip64 = !zip64Field.empty();
    return fields({{0x04034b50, 4}, {zip64 ? 45u : 20u, 2}, {6, 2}, {8, 2}, {march5th2017At140732, 4}, {crc, 4},
                   {compressed32, 4}, {uncompressed32, 4}, {name.size(), 2}, {zip64Field.size(), 2}}) +
           name + zip64Field;
}

void writeAt(const std::string& path, uint64_t position, const std::string& bytes) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(position));
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file) throw std::runtime_error("write failed");
}

// Three entries past 32 bits, their data holes in a sparse file: "long.wav"
// compressed to more than 4 GiB from less, whose local header holds only the
// low bits of its compressed size; "after.wav" starting past 4 GiB; "huge.wav"
// of more than 4 GiB uncompressed. Then the header of the entry that failed.
TEST(ZipSalvage, entries_past_4_gib_keep_their_sizes_and_offsets_in_zip64_fields) {
    constexpr uint64_t longCompressed = 0x100000010;
    constexpr uint64_t longUncompressed = 0xFFFFF000;
    constexpr uint64_t hugeUncompressed = 0x180000000;
    constexpr uint64_t smallCompressed = 0x20;
    const std::string emptyZip64Field = fields({{1, 2}, {16, 2}, {0, 16}});

    const std::string longHeader =
        localHeader("long.wav", 0x11111111, longCompressed & 0xFFFFFFFF, longUncompressed, emptyZip64Field);
    const uint64_t afterOffset = longHeader.size() + longCompressed;
    const std::string afterHeader = localHeader("after.wav", 0x22222222, smallCompressed, 0x40, "");
    const uint64_t hugeOffset = afterOffset + afterHeader.size() + smallCompressed;
    const std::string hugeHeader = localHeader("huge.wav", 0x33333333, 0xFFFFFFFF, 0xFFFFFFFF,
                                               fields({{1, 2}, {16, 2}, {hugeUncompressed, 8}, {smallCompressed, 8}}));
    const uint64_t failedOffset = hugeOffset + hugeHeader.size() + smallCompressed;
    const std::string failedHeader = localHeader("failed.wav", 0, 0, 0, "") + "partial data";

    TempDir dir;
    const std::string archive = dir.sparse("out.zip", 0);
    writeAt(archive, 0, longHeader);
    writeAt(archive, afterOffset, afterHeader);
    writeAt(archive, hugeOffset, hugeHeader);
    writeAt(archive, failedOffset, failedHeader);

    const LongCompressedEntry longEntry{0, longUncompressed, longCompressed};
    ASSERT_TRUE(salvageArchive(archive, 3, {&longEntry, 1}));

    std::ifstream file(archive, std::ios::binary);
    std::string local(longHeader.size(), '\0');
    file.read(local.data(), static_cast<std::streamsize>(local.size()));
    EXPECT_EQ(local, localHeader("long.wav", 0x11111111, 0xFFFFFFFF, 0xFFFFFFFF,
                                 fields({{1, 2}, {16, 2}, {longUncompressed, 8}, {longCompressed, 8}})));
    EXPECT_EQ(python("for i in z.infolist(): print(i.filename, i.file_size, i.compress_size, i.header_offset, "
                     "i.CRC, i.create_version, i.extract_version, i.flag_bits, i.date_time)\n"
                     "print(z.start_dir)",
                     archive),
              "long.wav " + std::to_string(longUncompressed) + " " + std::to_string(longCompressed) +
                  " 0 286331153 45 45 6 (2017, 3, 5, 14, 7, 32)\n"
                  "after.wav 64 32 " + std::to_string(afterOffset) + " 572662306 45 45 6 (2017, 3, 5, 14, 7, 32)\n"
                  "huge.wav " + std::to_string(hugeUncompressed) + " 32 " + std::to_string(hugeOffset) +
                  " 858993459 45 45 6 (2017, 3, 5, 14, 7, 32)\n" + std::to_string(failedOffset) + "\n");
    // The zip64 record starts where the directory ends, after its three
    // headers, each with a zip64 field of the values past 32 bits.
    const uint64_t directorySize = (46 + 8 + 4 + 8) + (46 + 9 + 4 + 8) + (46 + 8 + 4 + 16);
    EXPECT_EQ(std::filesystem::file_size(archive), failedOffset + directorySize + 56 + 20 + 22);
}

TEST(ZipSalvage, file_whose_entries_cannot_be_walked_is_left_untouched) {
    TempDir dir;
    const std::string notAnArchive = dir.write("text.zip", "not an archive, only text");
    EXPECT_FALSE(salvageArchive(notAnArchive, 1, {}));
    EXPECT_EQ(contents(notAnArchive), "not an archive, only text");

    // Asked for one entry more than it holds, the walk meets the directory.
    const std::string intact = intactArchive(dir, smallEntries());
    const std::string tooFew = dir.write("few.zip", intact);
    EXPECT_FALSE(salvageArchive(tooFew, 4, {}));
    EXPECT_TRUE(contents(tooFew) == intact);

    // The last entry's data runs past the end of the file.
    const std::string cut = dir.write("cut.zip", intact.substr(0, 200));
    EXPECT_FALSE(salvageArchive(cut, 3, {}));
    EXPECT_TRUE(contents(cut) == intact.substr(0, 200));
}

}  // namespace
}  // namespace quilbex::exporting
