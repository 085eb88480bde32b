#include "wav/wav_header.hpp"

#include <string_view>
#include <utility>

#include "platform/little_endian.hpp"

namespace quilbex::wav {
namespace {

constexpr uint16_t pcmFormat = 1;
constexpr uint16_t channelCount = 1;

// The RIFF size counts everything after its own field: the file less 8 bytes.
constexpr uint64_t riffSizeOverhead = wavHeaderSize - 8;
// RF64 readers take the real sizes from the ds64 chunk when a 32-bit size
// holds this value.
constexpr uint32_t sizeInDs64 = 0xFFFFFFFF;

class HeaderBytes {
public:
    explicit HeaderBytes(size_t size) { bytes_.reserve(size); }

    void tag(std::string_view fourCharacters) {
        for (char c : fourCharacters) bytes_.push_back(static_cast<std::byte>(c));
    }
    void u16(uint16_t value) { platform::appendLittleEndian(bytes_, value, 2); }
    void u32(uint32_t value) { platform::appendLittleEndian(bytes_, value, 4); }
    void u64(uint64_t value) { platform::appendLittleEndian(bytes_, value, 8); }

    std::vector<std::byte> take() { return std::move(bytes_); }

private:
    std::vector<std::byte> bytes_;
};

void addFormatChunk(HeaderBytes& header) {
    header.tag("fmt ");
    header.u32(16);
    header.u16(pcmFormat);
    header.u16(channelCount);
    header.u32(sampleRate);
    header.u32(sampleRate * bytesPerSample * channelCount);
    header.u16(static_cast<uint16_t>(bytesPerSample * channelCount));
    header.u16(static_cast<uint16_t>(8 * bytesPerSample));
}

std::vector<std::byte> riffHeader(uint32_t payloadBytes, uint64_t trailingBytes) {
    HeaderBytes header(wavHeaderSize);
    header.tag("RIFF");
    header.u32(static_cast<uint32_t>(riffSizeOverhead + payloadBytes + trailingBytes));
    header.tag("WAVE");
    addFormatChunk(header);
    header.tag("fact");
    header.u32(4);
    header.u32(payloadBytes / bytesPerSample);
    header.tag("data");
    header.u32(payloadBytes);
    return header.take();
}

}  // namespace

// The 64-bit sizes stand in the ds64 chunk right after "WAVE"; every 32-bit
// size that could overflow says so with sizeInDs64.
std::vector<std::byte> buildRf64Header(uint64_t payloadBytes, uint64_t trailingBytes) {
    HeaderBytes header(rf64HeaderSize);
    header.tag("RF64");
    header.u32(sizeInDs64);
    header.tag("WAVE");
    header.tag("ds64");
    header.u32(28);
    header.u64(rf64HeaderSize - 8 + payloadBytes + trailingBytes);
    header.u64(payloadBytes);
    header.u64(payloadBytes / bytesPerSample);
    header.u32(0);  // no table of further chunk sizes
    addFormatChunk(header);
    header.tag("fact");
    header.u32(4);
    header.u32(sizeInDs64);
    header.tag("data");
    header.u32(sizeInDs64);
    return header.take();
}

size_t wavHeaderSizeFor(uint64_t payloadBytes, uint64_t trailingBytes) {
    return riffSizeOverhead + payloadBytes + trailingBytes > UINT32_MAX ? rf64HeaderSize : wavHeaderSize;
}

std::vector<std::byte> buildWavHeader(uint64_t payloadBytes, uint64_t trailingBytes) {
    if (wavHeaderSizeFor(payloadBytes, trailingBytes) == rf64HeaderSize)
        return buildRf64Header(payloadBytes, trailingBytes);
    return riffHeader(static_cast<uint32_t>(payloadBytes), trailingBytes);
}

}  // namespace quilbex::wav
