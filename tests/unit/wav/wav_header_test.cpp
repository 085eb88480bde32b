#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archive_readers.hpp"
#include "wav/guano.hpp"
#include "wav/wav_header.hpp"
#include "scan/block_format.hpp"

namespace quilbex::wav {
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

TEST(WavHeader, counts_trailing_chunks_in_riff_and_rf64_sizes) {
    const auto riff = buildWavHeader(1000, 300);
    EXPECT_EQ(field(riff, 4, 4), wavHeaderSize + 1000 + 300 - 8);
    EXPECT_EQ(field(riff, 52, 4), 1000u);
    const auto rf64 = buildRf64Header(1000, 300);
    EXPECT_EQ(field(rf64, 20, 8), rf64HeaderSize + 1000 + 300 - 8);
    EXPECT_EQ(field(rf64, 28, 8), 1000u);
    EXPECT_EQ(wavHeaderSizeFor(0xFFFFFFFF - (wavHeaderSize - 8) - 300, 300), wavHeaderSize);
    EXPECT_EQ(wavHeaderSizeFor(0xFFFFFFFF - (wavHeaderSize - 8) - 300, 301), rf64HeaderSize);
}

TEST(Guano, writes_the_lines_in_order_and_leaves_out_what_does_not_apply) {
    const platform::CalendarTime start{2017, 3, 5, 14, 7, 32};
    struct Case {
        GuanoFacts facts;
        uint64_t unreadable;
        std::string text;
    };
    for (const auto& c : std::vector<Case>{
             {{start, std::nullopt, 15 * 768000, "wav0000_2017_03_05__14_07_32.wav", 1234, 45}, 512,
              "GUANO|Version: 1.0\nTimestamp: 2017-03-05T14:07:32\nLength: 15.0\nSamplerate: 384000\n"
              "Original Filename: wav0000_2017_03_05__14_07_32.wav\nQuilbex|First Block: 1234\n"
              "Quilbex|Offset: 45\nQuilbex|Unreadable Bytes: 512\n"},
             {{start, -(5 * 60 + 30), 2, "a.wav", 1, std::nullopt}, 0,
              "GUANO|Version: 1.0\nTimestamp: 2017-03-05T14:07:32-05:30\nLength: 0.000003\n"
              "Samplerate: 384000\nOriginal Filename: a.wav\nQuilbex|First Block: 1\n"},
             {{std::nullopt, 0, 3 * 4194272, "b.wav", 7, 0}, 0,
              "GUANO|Version: 1.0\nLength: 16.383875\nSamplerate: 384000\nOriginal Filename: b.wav\n"
              "Quilbex|First Block: 7\nQuilbex|Offset: 0\n"},
             {{start, 14 * 60, 768000 + 2 * 1000, "c.wav", 0, std::nullopt}, 0,
              "GUANO|Version: 1.0\nTimestamp: 2017-03-05T14:07:32+14:00\nLength: 1.002604\n"
              "Samplerate: 384000\nOriginal Filename: c.wav\nQuilbex|First Block: 0\n"}}) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(guanoText(c.facts, c.unreadable), c.text);
        // The chunk keeps the room of the longest count the file can have.
        const auto chunk = buildGuanoChunk(c.facts, c.unreadable);
        const std::string most = guanoText(c.facts, c.facts.payloadBytes);
        EXPECT_EQ(chunk.size(), guanoChunkSize(c.facts));
        EXPECT_EQ(chunk.size(), 8 + most.size() + most.size() % 2);
        EXPECT_EQ(tag(std::vector<std::byte>(chunk), 0), "guan");
        EXPECT_EQ(field(chunk, 4, 4), chunk.size() - 8);
        std::string text;
        for (size_t i = 8; i < chunk.size(); ++i) text.push_back(static_cast<char>(chunk[i]));
        EXPECT_EQ(text, c.text + std::string(text.size() - c.text.size(), ' '));
    }
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
}  // namespace quilbex::wav
