#include <gtest/gtest.h>
#include <zlib.h>

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

#include "export/zip64_records.hpp"
#include "export/zip_writer.hpp"
#include "archive_readers.hpp"
#include "test_support.hpp"

namespace quilbex::exporting {
namespace {

constexpr uint32_t march5th2017At140732 = 0x4A6570F0;

using testing::TempDir;

using testing::output;
using testing::python;
using testing::unzipTestPasses;

// Deflate streams as the export pipeline hands them over: raw, level 1.
class RawDeflater {
public:
    explicit RawDeflater(int level = 1) {
        if (deflateInit2(&stream_, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            throw std::runtime_error("deflateInit2 failed");
    }
    ~RawDeflater() { deflateEnd(&stream_); }
    RawDeflater(const RawDeflater&) = delete;
    RawDeflater& operator=(const RawDeflater&) = delete;

    // Z_FULL_FLUSH leaves the output byte-aligned and free of references
    // to earlier input, so one flushed piece may be repeated at will.
    std::vector<std::byte> deflate(std::string_view data, int flush) {
        std::vector<std::byte> out(deflateBound(&stream_, data.size()) + 64);
        stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
        stream_.avail_in = static_cast<uInt>(data.size());
        stream_.next_out = reinterpret_cast<Bytef*>(out.data());
        stream_.avail_out = static_cast<uInt>(out.size());
        ::deflate(&stream_, flush);
        out.resize(out.size() - stream_.avail_out);
        return out;
    }

private:
    z_stream stream_{};
};

std::vector<std::byte> rawDeflate(std::string_view data) { return RawDeflater().deflate(data, Z_FINISH); }

uint32_t crcOf(std::string_view data) {
    return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

bool addEntry(ZipWriter& zip, const std::string& name, std::string_view data,
              uint32_t dosDate = march5th2017At140732) {
    return zip.beginEntry(name, dosDate, data.size()) && zip.writeCompressed(rawDeflate(data)) &&
           zip.finishEntry(data.size(), crcOf(data));
}

uint64_t littleEndian(const std::string& bytes, size_t offset, size_t width) {
    uint64_t value = 0;
    for (size_t i = 0; i < width; ++i) value |= uint64_t{static_cast<unsigned char>(bytes.at(offset + i))} << (8 * i);
    return value;
}

// The end records of an archive without comment: the last 98 bytes are the
// zip64 record, its locator and the classic end record when zip64 is used.
struct EndRecords {
    explicit EndRecords(const std::string& path) {
        std::ifstream file(path, std::ios::binary);
        file.seekg(-98, std::ios::end);
        tail.resize(98);
        file.read(tail.data(), 98);
    }
    bool hasZip64() const { return littleEndian(tail, 56, 4) == 0x07064b50; }
    uint64_t classicCount() const { return littleEndian(tail, 76 + 10, 2); }

    std::string tail;
};

TEST(ZipWriter, small_dated_entries_read_back_in_unzip_and_python) {
    TempDir dir;
    const std::string archive = dir.path("small.zip");
    const std::string first = "first recording";
    const std::string empty;
    std::string second;
    for (int i = 0; i < 20000; ++i) second += std::to_string(i * i % 977) + ",";
    {
        ZipWriter zip;
        ASSERT_TRUE(zip.open(archive, 1));
        ASSERT_TRUE(addEntry(zip, "first.wav", first));
        ASSERT_TRUE(addEntry(zip, "empty.wav", empty, 0x00210000));  // 1980-01-01 00:00:00
        ASSERT_TRUE(addEntry(zip, "second.wav", second));
        zip.close();
        EXPECT_EQ(zip.lastError(), 0);
        EXPECT_FALSE(zip.isOpen());
    }
    EXPECT_TRUE(unzipTestPasses(archive));
    EXPECT_EQ(output("unzip -p '" + archive + "' second.wav"), second);
    EXPECT_EQ(python("print(z.testzip())\n"
                     "for i in z.infolist(): print(i.filename, i.file_size, i.CRC, i.compress_type, i.flag_bits)\n"
                     "for i in z.infolist(): print(i.date_time)",
                     archive),
              "None\n"
              "first.wav " + std::to_string(first.size()) + " " + std::to_string(crcOf(first)) + " 8 6\n"
              "empty.wav 0 0 8 6\n"
              "second.wav " + std::to_string(second.size()) + " " + std::to_string(crcOf(second)) + " 8 6\n"
              "(2017, 3, 5, 14, 7, 32)\n(1980, 1, 1, 0, 0, 0)\n(2017, 3, 5, 14, 7, 32)\n");
    EXPECT_FALSE(EndRecords(archive).hasZip64());
}

TEST(ZipWriter, entry_count_past_16_bits_gets_zip64_end_records) {
    constexpr int entryCount = 70000;
    TempDir dir;
    const std::string archive = dir.path("many.zip");
    const std::string data = "tiny";
    const auto compressed = rawDeflate(data);
    {
        ZipWriter zip;
        ASSERT_TRUE(zip.open(archive, 1));
        for (int i = 0; i < entryCount; ++i) {
            ASSERT_TRUE(zip.beginEntry("e" + std::to_string(i), march5th2017At140732, data.size()));
            ASSERT_TRUE(zip.writeCompressed(compressed));
            ASSERT_TRUE(zip.finishEntry(data.size(), crcOf(data)));
        }
        zip.close();
        EXPECT_EQ(zip.lastError(), 0);
    }
    const EndRecords end(archive);
    ASSERT_TRUE(end.hasZip64());
    EXPECT_EQ(littleEndian(end.tail, 0, 4), 0x06064b50u);
    EXPECT_EQ(littleEndian(end.tail, 24, 8), uint64_t{entryCount});
    EXPECT_EQ(littleEndian(end.tail, 32, 8), uint64_t{entryCount});
    EXPECT_EQ(littleEndian(end.tail, 56 + 8, 8), std::filesystem::file_size(archive) - 98);
    EXPECT_EQ(end.classicCount(), 0xFFFFu);

    EXPECT_TRUE(unzipTestPasses(archive));
    EXPECT_EQ(python("n = z.infolist(); print(len(n), n[0].filename, n[-1].filename, z.testzip())", archive),
              "70000 e0 e69999 None\n");

    // Records already there are not written twice.
    const auto size = std::filesystem::file_size(archive);
    EXPECT_TRUE(completeZip64Records(archive));
    EXPECT_EQ(std::filesystem::file_size(archive), size);
}

TEST(ZipWriter, entry_over_4_gib_keeps_its_sizes_in_zip64_fields) {
    constexpr size_t pieceSize = size_t{64} << 20;
    constexpr int pieces = 66;  // 4.125 GiB
    constexpr uint64_t totalSize = uint64_t{pieceSize} * pieces;
    const std::string zeros(pieceSize, '\0');
    RawDeflater deflater;
    const auto piece = deflater.deflate(zeros, Z_FULL_FLUSH);
    const auto finalBlock = deflater.deflate({}, Z_FINISH);
    const uint32_t pieceCrc = crcOf(zeros);

    TempDir dir;
    const std::string archive = dir.path("big.zip");
    {
        ZipWriter zip;
        ASSERT_TRUE(zip.open(archive, 1));
        ASSERT_TRUE(zip.beginEntry("big.wav", march5th2017At140732, totalSize));
        uLong crc = 0;
        for (int i = 0; i < pieces; ++i) {
            ASSERT_TRUE(zip.writeCompressed(piece));
            crc = crc32_combine64(crc, pieceCrc, pieceSize);
        }
        ASSERT_TRUE(zip.writeCompressed(finalBlock));
        ASSERT_TRUE(zip.finishEntry(totalSize, static_cast<uint32_t>(crc)));
        ASSERT_TRUE(addEntry(zip, "after.wav", "after"));
    }
    EXPECT_TRUE(unzipTestPasses(archive));
    EXPECT_EQ(python("for i in z.infolist(): print(i.filename, i.file_size, i.compress_size)", archive),
              "big.wav " + std::to_string(totalSize) + " " +
                  std::to_string(piece.size() * pieces + finalBlock.size()) + "\nafter.wav 5 " +
                  std::to_string(rawDeflate("after").size()) + "\n");
}

TEST(ZipWriter, append_mode_adds_to_the_existing_archive) {
    TempDir dir;
    const std::string archive = dir.path("grown.zip");
    {
        ZipWriter zip;
        ASSERT_TRUE(zip.open(archive, 1));
        ASSERT_TRUE(addEntry(zip, "old.wav", "old"));
        zip.close();
        ASSERT_TRUE(zip.open(archive, 2));
        ASSERT_TRUE(addEntry(zip, "new.wav", "new"));
    }
    EXPECT_TRUE(unzipTestPasses(archive));
    EXPECT_EQ(python("print([i.filename for i in z.infolist()])", archive), "['old.wav', 'new.wav']\n");

    ZipWriter missing;
    EXPECT_FALSE(missing.open(dir.path("absent.zip"), 2));
}

TEST(ZipWriter, failed_open_makes_every_later_call_fail_harmlessly) {
    TempDir dir;
    const std::string archive = dir.path("missing/out.zip");
    ZipWriter zip;
    EXPECT_FALSE(zip.open(archive, 1));
    EXPECT_FALSE(zip.isOpen());
    EXPECT_EQ(zip.lastError(), -1);

    const std::byte data[] = {std::byte{1}, std::byte{2}};
    EXPECT_FALSE(zip.beginEntry("a.wav", march5th2017At140732, 2));
    EXPECT_FALSE(zip.writeCompressed(data));
    EXPECT_FALSE(zip.finishEntry(2, 0));
    zip.close();
    EXPECT_EQ(zip.lastError(), -1);
    EXPECT_FALSE(std::filesystem::exists(archive));
}

// Little-endian fields, each a value and its width in bytes.
std::string fields(std::initializer_list<std::pair<uint64_t, size_t>> values) {
    std::string bytes;
    for (const auto& [value, width] : values)
        for (size_t i = 0; i < width; ++i) bytes.push_back(static_cast<char>(value >> (8 * i)));
    return bytes;
}

// An archive of one entry "a" as minizip leaves one whose compressed size
// alone passed 4 GiB: the local zip64 field, if any, still holds zeros. Its
// data is left out; only the records matter here.
std::string archiveLackingLocalSizes(uint64_t compressedSize, bool localZip64Field) {
    const std::string localExtra = localZip64Field ? fields({{1, 2}, {16, 2}, {0, 8}, {0, 8}}) : "";
    std::string zip = fields({{0x04034b50, 4}, {45, 2}, {6, 2}, {8, 2}, {march5th2017At140732, 4}, {0x12345678, 4},
                              {0xFFFFFFFF, 4}, {5, 4}, {1, 2}, {localExtra.size(), 2}}) +
                      "a" + localExtra;
    const size_t directoryOffset = zip.size();
    zip += fields({{0x02014b50, 4}, {45, 2}, {45, 2}, {6, 2}, {8, 2}, {march5th2017At140732, 4}, {0x12345678, 4},
                   {0xFFFFFFFF, 4}, {5, 4}, {1, 2}, {12, 2}, {0, 2}, {0, 2}, {0, 2}, {0, 4}, {0, 4}}) +
           "a" + fields({{1, 2}, {8, 2}, {compressedSize, 8}});
    const size_t directorySize = zip.size() - directoryOffset;
    return zip + fields({{0x06054b50, 4}, {0, 4}, {1, 2}, {1, 2}, {directorySize, 4}, {directoryOffset, 4}, {0, 2}});
}

std::string written(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

std::string contents(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

TEST(Zip64Records, fills_in_local_sizes_of_entry_compressed_past_4_gib) {
    constexpr uint64_t compressedSize = 0x100000123;
    TempDir dir;
    const std::string before = archiveLackingLocalSizes(compressedSize, true);
    const std::string archive = written(dir.path("a.zip"), before);
    ASSERT_TRUE(completeZip64Records(archive));

    const std::string after = contents(archive);
    ASSERT_EQ(after.size(), before.size());
    EXPECT_EQ(littleEndian(after, 18, 4), 0xFFFFFFFFu);
    EXPECT_EQ(littleEndian(after, 22, 4), 0xFFFFFFFFu);
    EXPECT_EQ(littleEndian(after, 31, 4), 0x00100001u);  // the zip64 field, length 16
    EXPECT_EQ(littleEndian(after, 35, 8), 5u);
    EXPECT_EQ(littleEndian(after, 43, 8), compressedSize);
    EXPECT_EQ(after.substr(51), before.substr(51));
}

TEST(Zip64Records, fails_when_the_local_header_has_no_zip64_field) {
    TempDir dir;
    const std::string archive = written(dir.path("a.zip"), archiveLackingLocalSizes(0x100000123, false));
    EXPECT_FALSE(completeZip64Records(archive));
    EXPECT_FALSE(completeZip64Records(written(dir.path("b.zip"), "not an archive")));
}

// Over a minute and 4.3 GB of disk: run with
// --gtest_also_run_disabled_tests --gtest_filter='Long*'.
TEST(LongZipWriter, DISABLED_archive_past_4_gib_with_entry_compressed_past_4_gib) {
    // Stored blocks make the largest 1024-block recording's entry larger
    // than 4 GiB while its uncompressed size still fits in 32 bits.
    constexpr uint64_t recordingSize = 56 + uint64_t{1024} * 4194272;
    constexpr size_t pieceSize = size_t{64} << 20;
    constexpr int piecesPerSpan = 17;  // a span longer than one minizip write
    constexpr int wholePieces = static_cast<int>(recordingSize / pieceSize);
    const std::string zeros(pieceSize, '\0');
    const std::string rest(recordingSize - uint64_t{pieceSize} * wholePieces, '\0');
    RawDeflater stored(0);
    const auto piece = stored.deflate(zeros, Z_FULL_FLUSH);
    const auto tail = stored.deflate(rest, Z_FINISH);
    std::vector<std::byte> span;
    for (int i = 0; i < piecesPerSpan; ++i) span.insert(span.end(), piece.begin(), piece.end());
    uLong crc = 0;
    for (int i = 0; i < wholePieces; ++i) crc = crc32_combine64(crc, crcOf(zeros), pieceSize);
    crc = crc32_combine64(crc, crcOf(rest), static_cast<z_off64_t>(rest.size()));

    TempDir dir;
    const std::string archive = dir.path("huge.zip");
    {
        ZipWriter zip;
        ASSERT_TRUE(zip.open(archive, 1));
        ASSERT_TRUE(zip.beginEntry("stored.wav", march5th2017At140732, recordingSize));
        int written = 0;
        for (; written + piecesPerSpan <= wholePieces; written += piecesPerSpan) ASSERT_TRUE(zip.writeCompressed(span));
        for (; written < wholePieces; ++written) ASSERT_TRUE(zip.writeCompressed(piece));
        ASSERT_TRUE(zip.writeCompressed(tail));
        ASSERT_TRUE(zip.finishEntry(recordingSize, static_cast<uint32_t>(crc)));
        ASSERT_TRUE(addEntry(zip, "after.wav", "after"));
    }
    const uint64_t storedSize = piece.size() * wholePieces + tail.size();
    ASSERT_GT(storedSize, 0xFFFFFFFFu);
    EXPECT_TRUE(unzipTestPasses(archive));
    EXPECT_EQ(python("for i in z.infolist(): print(i.filename, i.file_size, i.compress_size)\n"
                     "print(z.read(\"after.wav\").decode())",
                     archive),
              "stored.wav " + std::to_string(recordingSize) + " " + std::to_string(storedSize) + "\nafter.wav 5 " +
                  std::to_string(rawDeflate("after").size()) + "\nafter\n");
}

}  // namespace
}  // namespace quilbex::exporting
