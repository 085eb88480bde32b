// The card device: its size and sector size, the drive report, seeks, and
// sector reads with the bit order restored. Cards are image files and
// special files of this machine; loop devices are covered black-box by
// tests/e2e/test_drive_info.py.

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "card/card_device.hpp"
#include "card/sector_reader.hpp"
#include "platform/aligned_buffer.hpp"
#include "test_support.hpp"

namespace quilbex::card {
namespace {

using testing::CapturedConsole;
using testing::ScriptedDevice;
using testing::TempDir;

constexpr int64_t gibibyte = int64_t{1} << 30;

std::string systemText(int code) { return std::string("\n") + std::strerror(code) + "\n"; }

std::string randomBytes(size_t length, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(length, '\0');
    for (auto& byte : bytes) byte = static_cast<char>(generator() & 0xFF);
    return bytes;
}

// Bit reversal worked out bit by bit, independent of the table under test.
uint8_t mirrored(uint8_t value) {
    uint8_t result = 0;
    for (int bit = 0; bit < 8; ++bit)
        if (value & (1u << bit)) result |= static_cast<uint8_t>(0x80u >> bit);
    return result;
}

std::string mirrored(const std::string& bytes) {
    std::string result = bytes;
    for (auto& byte : result) byte = static_cast<char>(mirrored(static_cast<uint8_t>(byte)));
    return result;
}

std::string text(const platform::AlignedBuffer& buffer) {
    return {reinterpret_cast<const char*>(buffer.data()), buffer.size()};
}

// Special files the tool may be pointed at by mistake, and the code each
// geometry query fails with.
struct WrongDrive {
    std::string path;
    int code;
};

std::vector<WrongDrive> wrongDrives(const TempDir& dir) {
    const std::string fifo = dir.path("fifo");
    if (::mkfifo(fifo.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed");
    return {{dir.path("missing.img"), ENOENT}, {dir.path(""), EISDIR}, {"/dev/null", ENOTBLK}, {fifo, ENOTBLK}};
}

TEST(DriveSize, is_the_image_size_in_whole_sectors) {
    const TempDir dir;
    for (const auto& [length, size] : std::vector<std::pair<int64_t, int64_t>>{
             {512, 512}, {1000, 512}, {4194304 + 511, 4194304}, {gibibyte + 1, gibibyte}}) {
        CapturedConsole captured;
        EXPECT_EQ(getDriveSize(captured.console(), dir.sparse("card.img", length)), size) << length;
        EXPECT_EQ(captured.out(), "");
        EXPECT_EQ(captured.err(), "");
    }
}

TEST(DriveSize, is_zero_without_message_for_image_smaller_than_a_sector) {
    const TempDir dir;
    for (const int64_t length : {0, 1, 511}) {
        CapturedConsole captured;
        EXPECT_EQ(getDriveSize(captured.console(), dir.sparse("card.img", length)), 0) << length;
        EXPECT_EQ(captured.out(), "");
        EXPECT_EQ(captured.err(), "");
    }
}

TEST(DriveSize, is_zero_with_the_system_error_for_what_is_no_card) {
    const TempDir dir;
    for (const auto& [path, code] : wrongDrives(dir)) {
        CapturedConsole captured;
        EXPECT_EQ(getDriveSize(captured.console(), path), 0) << path;
        EXPECT_EQ(captured.out(),
                  "Can't determine drive size!. Error " + std::to_string(code) + ".\n" + systemText(code))
            << path;
        EXPECT_EQ(captured.err(), "");
    }
}

TEST(SectorSize, is_512_bytes_for_an_image) {
    const TempDir dir;
    CapturedConsole captured;
    EXPECT_EQ(getBytesPerSector(captured.console(), dir.sparse("card.img", 1000)), 512u);
    EXPECT_EQ(captured.out(), "");
}

TEST(SectorSize, is_zero_with_the_system_error_for_what_is_no_card) {
    const TempDir dir;
    for (const auto& [path, code] : wrongDrives(dir)) {
        CapturedConsole captured;
        EXPECT_EQ(getBytesPerSector(captured.console(), path), 0u) << path;
        EXPECT_EQ(captured.out(), "GetDriveGeometry failed. Error " + std::to_string(code) + ".\n" + systemText(code));
        EXPECT_EQ(captured.err(), "");
    }
}

std::string report(const std::string& path, const std::string& cylinders, const std::string& bytes,
                   const std::string& gigabytes) {
    return "Drive path      = " + path + "\nCylinders       = " + cylinders +
           "\nTracks/cylinder = 1\nSectors/track   = 1\nBytes/sector    = 512\nDisk size       = " + bytes +
           " (Bytes)\n               = " + gigabytes + " (Gb)\n";
}

TEST(DriveReport, gives_geometry_and_size_of_an_image) {
    const TempDir dir;
    const struct {
        int64_t length;
        std::string cylinders, bytes, gigabytes;
    } cases[] = {
        {gibibyte, "2097152", "1073741824", "1.00"},
        {5 * 4194304 + 700, "40961", "20972032", "0.02"},
        {3 * gibibyte + gibibyte / 2, "7340032", "3758096384", "3.50"},
        {512, "1", "512", "0.00"},
    };
    for (const auto& c : cases) {
        const std::string image = dir.sparse("card.img", c.length);
        CapturedConsole captured;
        EXPECT_TRUE(printDriveInfo(captured.console(), image));
        EXPECT_EQ(captured.out(), report(image, c.cylinders, c.bytes, c.gigabytes));
        EXPECT_EQ(captured.err(), "");
    }
}

TEST(DriveReport, gives_the_system_error_for_what_is_no_card) {
    const TempDir dir;
    for (const auto& [path, code] : wrongDrives(dir)) {
        CapturedConsole captured;
        EXPECT_FALSE(printDriveInfo(captured.console(), path)) << path;
        EXPECT_EQ(captured.out(), "Bad drive. Error: " + std::to_string(code) + ".\n" + systemText(code));
        EXPECT_EQ(captured.err(), "");
    }
}

TEST(OpenDrive, prints_the_system_error_when_the_card_cannot_be_opened) {
    const TempDir dir;
    CapturedConsole captured;
    const platform::DiagnosticLog log(captured.console());
    EXPECT_FALSE(openDrive(captured.console(), log, dir.path("missing.img")).has_value());
    EXPECT_EQ(captured.out(), systemText(ENOENT));
    EXPECT_EQ(captured.err(), "");
}

struct SeekFixture {
    TempDir dir;
    CapturedConsole captured;
    ScriptedDevice* device = nullptr;

    CardDevice open(const std::string& bytes, const platform::DiagnosticLog& log) {
        auto scripted = testing::openScripted(dir.write("card.img", bytes));
        device = scripted.get();
        return CardDevice(std::move(scripted), log);
    }
};

TEST(CardSeek, moves_to_an_absolute_offset) {
    SeekFixture f;
    const platform::DiagnosticLog log(f.captured.console());
    CardDevice card = f.open(randomBytes(8192, 1), log);
    bool attempted = false;
    EXPECT_EQ(card.fileSeek(5000, attempted), 5000);
    EXPECT_TRUE(attempted);
    EXPECT_EQ(card.fileSeek(1000, attempted), 1000);
    std::byte sample[4];
    ASSERT_TRUE(card.raw().read(sample, 4).ok);
    EXPECT_EQ(std::memcmp(sample, randomBytes(8192, 1).data() + 1000, 4), 0);
    EXPECT_EQ(f.captured.out(), "");
}

TEST(CardSeek, refuses_a_negative_offset_without_asking_the_device) {
    SeekFixture f;
    const platform::DiagnosticLog log(f.captured.console());
    CardDevice card = f.open(randomBytes(4096, 1), log);
    bool attempted = true;
    EXPECT_EQ(card.fileSeek(-4194304, attempted), 0);
    EXPECT_FALSE(attempted);
    EXPECT_TRUE(f.device->seeks.empty());
    EXPECT_EQ(f.captured.out(), "");
    EXPECT_EQ(f.captured.err(), "") << "the log is off unless switched on";
}

TEST(CardSeek, logs_a_refused_offset_when_the_log_is_on) {
    SeekFixture f;
    const platform::DiagnosticLog log(f.captured.console(), true);
    CardDevice card = f.open(randomBytes(4096, 1), log);
    bool attempted = true;
    card.fileSeek(-4194304, attempted);
    const std::string entry = f.captured.flushedErr();
    EXPECT_EQ(entry.rfind("fileSeek(", 0), 0u) << entry;
    EXPECT_NE(entry.find("-4194304"), std::string::npos) << entry;
    EXPECT_EQ(std::count(entry.begin(), entry.end(), '\n'), 1) << entry;
}

TEST(CardSeek, reports_a_failed_move_with_its_error_code) {
    SeekFixture f;
    const platform::DiagnosticLog log(f.captured.console());
    CardDevice card = f.open(randomBytes(4096, 1), log);
    f.device->failingSeeks[2048] = EIO;
    bool attempted = false;
    EXPECT_EQ(card.fileSeek(2048, attempted), -1);
    EXPECT_TRUE(attempted);
    EXPECT_EQ(card.lastError(), platform::SystemError::posix(EIO));
    EXPECT_EQ(f.captured.out(), "");
}

TEST(SectorRead, restores_the_bit_order_of_what_it_reads) {
    const TempDir dir;
    const auto device = testing::openScripted(dir.write("card.img", std::string("\x01\x80\x5A\xF0\x12", 5) +
                                                                         std::string(507, '\0')));
    platform::AlignedBuffer sector(512, device->bufferAlignment());
    ASSERT_FALSE(readSectors(*device, sector.span()).has_value());
    EXPECT_EQ(text(sector), std::string("\x80\x01\x5A\x0F\x48", 5) + std::string(507, '\0'));
}

TEST(SectorRead, joins_a_read_delivered_in_pieces) {
    const TempDir dir;
    const std::string card = randomBytes(4194304, 3);
    const std::string image = dir.write("card.img", card);

    const auto whole = testing::openScripted(image);
    platform::AlignedBuffer once(4194304, whole->bufferAlignment());
    ASSERT_FALSE(readSectors(*whole, once.span()).has_value());

    const auto pieces = testing::openScripted(image);
    pieces->largestRead = 524288;
    platform::AlignedBuffer joined(4194304, pieces->bufferAlignment());
    ASSERT_FALSE(readSectors(*pieces, joined.span()).has_value());

    EXPECT_EQ(pieces->reads(), 8);
    EXPECT_TRUE(text(joined) == text(once));
    EXPECT_TRUE(text(joined) == mirrored(card));
}

TEST(SectorRead, fails_with_zero_bytes_when_the_card_ends_before_the_count) {
    const TempDir dir;
    const auto device = testing::openScripted(dir.write("card.img", randomBytes(1000, 4)));
    platform::AlignedBuffer sectors(4096, device->bufferAlignment());
    const auto failure = readSectors(*device, sectors.span());
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->reportedBytes, 0u);

    CapturedConsole captured;
    reportReadFailure(captured.console(), *failure);
    EXPECT_EQ(captured.err(), "Read failed 0\n");
}

TEST(SectorRead, fails_with_the_system_error_of_a_failing_read) {
    const TempDir dir;
    const auto device = testing::openScripted(dir.path(""));
    platform::AlignedBuffer sector(512, device->bufferAlignment());
    const auto failure = readSectors(*device, sector.span());
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->error, platform::SystemError::posix(EISDIR));
    EXPECT_EQ(failure->reportedBytes, 0u);
}

TEST(SectorRead, hands_back_the_count_a_failing_read_reported) {
    const TempDir dir;
    const auto device = testing::openScripted(dir.write("card.img", randomBytes(8192, 5)));
    device->largestRead = 512;
    device->failingRead = {{2, platform::ReadResult{false, 123, platform::SystemError::posix(EIO)}}};
    platform::AlignedBuffer sectors(4096, device->bufferAlignment());
    const auto failure = readSectors(*device, sectors.span());
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->reportedBytes, 123u);
    EXPECT_EQ(failure->error, platform::SystemError::posix(EIO));
}

TEST(SectorRead, reports_failure_as_system_error_then_read_failed) {
    CapturedConsole captured;
    reportReadFailure(captured.console(), ReadFailure{123, platform::SystemError::posix(EIO)});
    EXPECT_EQ(captured.flushedOut(), systemText(EIO)) << "standard output must be flushed before standard error";
    EXPECT_EQ(captured.flushedErr(), "Read failed 123\n");
}

}  // namespace
}  // namespace quilbex::card
