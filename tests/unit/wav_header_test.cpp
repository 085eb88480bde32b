#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archive_readers.hpp"
#include "export/wav_header.hpp"
#include "scan/block_format.hpp"

namespace quilbex::exporting {
namespace {

using testing::output;

uint64_t field(const std::vector<std::byte>& header, size_t offset, size_t width) {
    uint64_t value = 0;
    for (size_t i = 0; i < width; ++i) value |= static_cast<uint64_t>(header.at(offset + i)) << (8 * i);
    return value;
}

std::string tag(const std::vector<std::byte>& header, size_t offset) {
    std::string text;
    for (size_t i = 0; i < 4; ++i) text.push_back(static_cast<char>(header.at(offset + i)));
    return text;
}

void expectPcmFormatChunk(const std::vector<std::byte>& header, size_t at) {
    EXPECT_EQ(tag(header, at), "fmt ");
    EXPECT_EQ(field(header, at + 4, 4), 16u);
    EXPECT_EQ(field(header, at + 8, 2), 1u);  // PCM
    EXPECT_EQ(field(header, at + 10, 2), 1u);  // mono
    EXPECT_EQ(field(header, at + 12, 4), 384000u);
    EXPECT_EQ(field(header, at + 16, 4), 768000u);
    EXPECT_EQ(field(header, at + 20, 2), 2u);
    EXPECT_EQ(field(header, at + 22, 2), 16u);
}

constexpr uint64_t blockPayload = scan::blockPayloadSize;

TEST(WavHeader, riff_sizes_describe_the_whole_file) {
    const uint64_t payload = 3 * blockPayload + 6;
    const auto header = buildWavHeader(payload);
    ASSERT_EQ(header.size(), wavHeaderSize);
    EXPECT_EQ(tag(header, 0), "RIFF");
    EXPECT_EQ(field(header, 4, 4), wavHeaderSize + payload - 8);
    EXPECT_EQ(tag(header, 8), "WAVE");
    expectPcmFormatChunk(header, 12);
    EXPECT_EQ(tag(header, 36), "fact");
    EXPECT_EQ(field(header, 40, 4), 4u);
    EXPECT_EQ(field(header, 44, 4), payload / 2);
    EXPECT_EQ(tag(header, 48), "data");
    EXPECT_EQ(field(header, 52, 4), payload);
}

TEST(WavHeader, rf64_keeps_the_sizes_in_ds64) {
    const uint64_t payload = 1025 * blockPayload;
    const auto header = buildWavHeader(payload);
    ASSERT_EQ(header.size(), rf64HeaderSize);
    EXPECT_EQ(tag(header, 0), "RF64");
    EXPECT_EQ(field(header, 4, 4), 0xFFFFFFFFu);
    EXPECT_EQ(tag(header, 8), "WAVE");
    EXPECT_EQ(tag(header, 12), "ds64");
    EXPECT_EQ(field(header, 16, 4), 28u);
    EXPECT_EQ(field(header, 20, 8), rf64HeaderSize + payload - 8);
    EXPECT_EQ(field(header, 28, 8), payload);
    EXPECT_EQ(field(header, 36, 8), payload / 2);
    EXPECT_EQ(field(header, 44, 4), 0u);
    expectPcmFormatChunk(header, 48);
    EXPECT_EQ(tag(header, 72), "fact");
    EXPECT_EQ(field(header, 76, 4), 4u);
    EXPECT_EQ(field(header, 80, 4), 0xFFFFFFFFu);
    EXPECT_EQ(tag(header, 84), "data");
    EXPECT_EQ(field(header, 88, 4), 0xFFFFFFFFu);
}

TEST(WavHeader, rf64_only_when_the_riff_size_would_overflow) {
    const uint64_t largestRiffPayload = 0xFFFFFFFF - (wavHeaderSize - 8);
    const auto largest = buildWavHeader(largestRiffPayload);
    ASSERT_EQ(largest.size(), wavHeaderSize);
    EXPECT_EQ(field(largest, 4, 4), 0xFFFFFFFFu);
    EXPECT_EQ(buildWavHeader(largestRiffPayload + 1).size(), rf64HeaderSize);

    EXPECT_EQ(buildWavHeader(1024 * blockPayload).size(), wavHeaderSize);
    EXPECT_EQ(buildWavHeader(1025 * blockPayload).size(), rf64HeaderSize);
}

// A small file of either form, as sox and libsndfile count it.
class WavReaders : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::system("command -v soxi >/dev/null && command -v sndfile-info >/dev/null") != 0)
            GTEST_SKIP() << "soxi or sndfile-info missing (tools/setup-debian installs them)";
    }
    void TearDown() override { std::filesystem::remove(path_); }

    std::string write(const std::vector<std::byte>& header, size_t payloadBytes) {
        std::ofstream file(path_, std::ios::binary);
        file.write(reinterpret_cast<const char*>(header.data()), static_cast<std::streamsize>(header.size()));
        file << std::string(payloadBytes, '\x01');
        return path_;
    }

private:
    std::string path_ = (std::filesystem::temp_directory_path() /
                         ("quilbex-wav-" + std::to_string(::getpid()) + ".wav")).string();
};

TEST_F(WavReaders, read_riff_and_rf64_files_whole) {
    constexpr size_t payload = 1000;
    for (const auto& header : {buildWavHeader(payload), buildRf64Header(payload)}) {
        SCOPED_TRACE(tag(header, 0));
        const std::string path = write(header, payload);
        EXPECT_EQ(output("soxi -s '" + path + "'"), "500\n");
        EXPECT_EQ(output("soxi -r '" + path + "'"), "384000\n");
        EXPECT_NE(output("sndfile-info '" + path + "'").find("Frames      : 500\n"), std::string::npos);
    }
}

}  // namespace
}  // namespace quilbex::exporting
