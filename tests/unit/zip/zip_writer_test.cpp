// The zip writer and its records, read back by independent readers: unzip
// and Python's zipfile. Failed writes are in zip_failure_test.cpp.

#include <gtest/gtest.h>
#include <zlib.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "archive_readers.hpp"
#include "test_support.hpp"
#include "zip/zip_records.hpp"
#include "zip/zip_writer.hpp"
#include "zip_test_support.hpp"

namespace quilbex::zip {
namespace {

using namespace quilbex::testing;

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
    std::string second;
    for (int i = 0; i < 20000; ++i) second += std::to_string(i * i % 977) + ",";
    {
        ZipWriter zip;
        ASSERT_TRUE(zip.open(archive));
        ASSERT_TRUE(addEntry(zip, {"first.wav", first}));
        ASSERT_TRUE(addEntry(zip, {"empty.wav", "", 0x00210000}));  // 1980-01-01 00:00:00
        ASSERT_TRUE(addEntry(zip, {"second.wav", second}));
        EXPECT_TRUE(zip.close());
        EXPECT_FALSE(zip.lastError().any());
        EXPECT_TRUE(zip.close()) << "closed already, nothing is left to fail";
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
        ASSERT_TRUE(zip.open(archive));
        for (int i = 0; i < entryCount; ++i) {
            ASSERT_TRUE(zip.beginEntry("e" + std::to_string(i), march5th2017At140732, data.size()));
            ASSERT_TRUE(zip.writeCompressed(compressed));
            ASSERT_TRUE(zip.finishEntry(data.size(), crcOf(data)));
        }
        EXPECT_TRUE(zip.close());
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
        ASSERT_TRUE(zip.open(archive));
        ASSERT_TRUE(zip.beginEntry("big.wav", march5th2017At140732, totalSize));
        uLong crc = 0;
        for (int i = 0; i < pieces; ++i) {
            ASSERT_TRUE(zip.writeCompressed(piece));
            crc = crc32_combine64(crc, pieceCrc, pieceSize);
        }
        ASSERT_TRUE(zip.writeCompressed(finalBlock));
        ASSERT_TRUE(zip.finishEntry(totalSize, static_cast<uint32_t>(crc)));
        ASSERT_TRUE(addEntry(zip, {"after.wav", "after"}));
    }
    EXPECT_TRUE(unzipTestPasses(archive));
    EXPECT_EQ(python("for i in z.infolist(): print(i.filename, i.file_size, i.compress_size)", archive),
              "big.wav " + std::to_string(totalSize) + " " +
                  std::to_string(piece.size() * pieces + finalBlock.size()) + "\nafter.wav 5 " +
                  std::to_string(rawDeflate("after").size()) + "\n");
}

// A recording planned past 4 GiB that ended early: its local header holds
// the sizes in a zip64 field, which the central header does not need.
TEST(ZipWriter, entry_planned_past_4_gib_may_end_small) {
    TempDir dir;
    const std::string archive = dir.path("short.zip");
    const std::string data = "cut short";
    {
        ZipWriter zip;
        ASSERT_TRUE(zip.open(archive));
        ASSERT_TRUE(zip.beginEntry("short.wav", march5th2017At140732, uint64_t{5} << 30));
        ASSERT_TRUE(zip.writeCompressed(rawDeflate(data)));
        ASSERT_TRUE(zip.finishEntry(data.size(), crcOf(data)));
        ASSERT_TRUE(zip.close());
    }
    EXPECT_TRUE(unzipTestPasses(archive));
    EXPECT_EQ(output("unzip -p '" + archive + "' short.wav"), data);
    EXPECT_EQ(python("i = z.infolist()[0]; print(i.file_size, i.extract_version, z.read(i).decode())", archive),
              "9 45 cut short\n");
}

// The writer starts afresh on each open: nothing of the first archive's
// directory goes into the second, and the first stays as it was.
TEST(ZipWriter, writer_opened_again_makes_a_second_archive_and_leaves_the_first) {
    TempDir dir;
    const std::string first = dir.path("first.zip");
    const std::string second = dir.path("second.zip");
    ZipWriter zip;
    ASSERT_TRUE(zip.open(first));
    ASSERT_TRUE(addEntry(zip, {"old.wav", "old"}));
    ASSERT_TRUE(zip.close());
    const std::string firstBytes = contents(first);
    EXPECT_FALSE(zip.open(first));
    EXPECT_EQ(zip.lastError(), platform::SystemError::posix(EEXIST));
    ASSERT_TRUE(zip.open(second));
    ASSERT_TRUE(addEntry(zip, {"new.wav", "new"}));
    ASSERT_TRUE(zip.close());
    EXPECT_TRUE(contents(first) == firstBytes);
    EXPECT_TRUE(unzipTestPasses(second));
    EXPECT_EQ(python("print([i.filename for i in z.infolist()])", second), "['new.wav']\n");
}

TEST(ZipWriter, failed_open_makes_every_later_call_fail_harmlessly) {
    TempDir dir;
    const std::string archive = dir.path("missing/out.zip");
    ZipWriter zip;
    EXPECT_FALSE(zip.open(archive));
    EXPECT_EQ(zip.lastError(), platform::SystemError::posix(ENOENT));

    const std::byte data[] = {std::byte{1}, std::byte{2}};
    EXPECT_FALSE(zip.beginEntry("a.wav", march5th2017At140732, 2));
    EXPECT_FALSE(zip.writeCompressed(data));
    EXPECT_FALSE(zip.finishEntry(2, 0));
    EXPECT_FALSE(zip.close());
    EXPECT_EQ(zip.lastError(), platform::SystemError::posix(ENOENT)) << "the reason of the first failure";
    EXPECT_FALSE(std::filesystem::exists(archive));
}

TEST(ZipWriter, makes_a_new_archive_only_where_nothing_is) {
    TempDir dir;
    const std::string target = dir.write("target", "someone's file");
    const std::string existing = dir.write("existing.zip", "old bytes");
    std::filesystem::create_symlink(target, dir.path("link.zip"));
    std::filesystem::create_symlink(dir.path("nowhere"), dir.path("dangling.zip"));
    for (const std::string name : {"existing.zip", "link.zip", "dangling.zip"}) {
        ZipWriter zip;
        EXPECT_FALSE(zip.open(dir.path(name))) << name;
    }
    EXPECT_EQ(contents(target), "someone's file");
    EXPECT_EQ(contents(existing), "old bytes");
    EXPECT_FALSE(std::filesystem::exists(dir.path("nowhere")));
}

std::string hex(const std::string& bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (const char c : bytes) {
        text += digits[static_cast<unsigned char>(c) >> 4];
        text += digits[static_cast<unsigned char>(c) & 15];
    }
    return text;
}

void writeAt(const std::string& path, uint64_t position, const std::vector<std::byte>& bytes) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(position));
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!file) throw std::runtime_error("write failed");
}

// Three entries past 32 bits, the data of two of them holes in a sparse
// file: "long.wav" compressed to more than 4 GiB from less, "after.wav"
// starting past 4 GiB, "huge.wav" of more than 4 GiB uncompressed.
TEST(ZipRecords, values_past_32_bits_go_into_zip64_fields_and_records) {
    const std::string afterData = "after";
    const auto afterDeflated = rawDeflate(afterData);
    EntryRecord longEntry{"long.wav", march5th2017At140732, 0x11111111, 0x100000010, 0xFFFFF000, 0, true};
    ASSERT_TRUE(needsLocalZip64(longEntry.uncompressedSize));
    EntryRecord after{"after.wav", march5th2017At140732, crcOf(afterData), afterDeflated.size(), afterData.size(),
                      localHeader(longEntry).size() + longEntry.compressedSize, false};
    EntryRecord huge{"huge.wav", march5th2017At140732, 0x33333333, 0x20, 0x180000000,
                     after.headerOffset + localHeader(after).size() + after.compressedSize, true};
    const uint64_t directoryOffset = huge.headerOffset + localHeader(huge).size() + huge.compressedSize;
    std::vector<std::byte> directory;
    for (const EntryRecord* entry : {&longEntry, &after, &huge}) appendCentralHeader(directory, *entry);

    TempDir dir;
    const std::string archive = dir.sparse("out.zip", 0);
    writeAt(archive, 0, localHeader(longEntry));
    writeAt(archive, after.headerOffset, localHeader(after));
    writeAt(archive, after.headerOffset + localHeader(after).size(), afterDeflated);
    writeAt(archive, huge.headerOffset, localHeader(huge));
    writeAt(archive, directoryOffset, directory);
    writeAt(archive, directoryOffset + directory.size(), endRecords(3, directory.size(), directoryOffset));

    // The central zip64 fields hold just the values past 32 bits: the long
    // entry's compressed size, the others' offsets, the huge one's size too.
    const auto zip64Field = [](std::initializer_list<uint64_t> values) {
        std::string field = fields({{1, 2}, {8 * values.size(), 2}});
        for (const uint64_t value : values) field += fields({{value, 8}});
        return hex(field);
    };
    // Each has a zip64 field, so each needs version 4.5.
    const auto line = [](const EntryRecord& e, const std::string& field) {
        return e.name + " " + std::to_string(e.uncompressedSize) + " " + std::to_string(e.compressedSize) + " " +
               std::to_string(e.headerOffset) + " 45 45 " + field + "\n";
    };
    EXPECT_EQ(python("for i in z.infolist(): print(i.filename, i.file_size, i.compress_size, i.header_offset, "
                     "i.create_version, i.extract_version, i.extra.hex())\n"
                     "print(z.start_dir, z.read(\"after.wav\").decode())",
                     archive),
              line(longEntry, zip64Field({longEntry.compressedSize})) + line(after, zip64Field({after.headerOffset})) +
                  line(huge, zip64Field({huge.uncompressedSize, huge.headerOffset})) +
                  std::to_string(directoryOffset) + " after\n");
}

// Over a minute and 4.3 GB of disk: run with
// --gtest_also_run_disabled_tests --gtest_filter='Long*'.
TEST(LongZipWriter, DISABLED_archive_past_4_gib_with_entry_compressed_past_4_gib) {
    // Stored blocks make the largest 1024-block recording's entry larger
    // than 4 GiB while its uncompressed size still fits in 32 bits.
    constexpr uint64_t recordingSize = 56 + uint64_t{1024} * 4194272;
    constexpr size_t pieceSize = size_t{64} << 20;
    constexpr int piecesPerSpan = 17;  // a span longer than one system write
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
        ASSERT_TRUE(zip.open(archive));
        ASSERT_TRUE(zip.beginEntry("stored.wav", march5th2017At140732, recordingSize));
        int written = 0;
        for (; written + piecesPerSpan <= wholePieces; written += piecesPerSpan) ASSERT_TRUE(zip.writeCompressed(span));
        for (; written < wholePieces; ++written) ASSERT_TRUE(zip.writeCompressed(piece));
        ASSERT_TRUE(zip.writeCompressed(tail));
        ASSERT_TRUE(zip.finishEntry(recordingSize, static_cast<uint32_t>(crc)));
        ASSERT_TRUE(addEntry(zip, {"after.wav", "after"}));
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
}  // namespace quilbex::zip
