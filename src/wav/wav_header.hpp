#pragma once
// The WAV header in front of every file: PCM, mono, 16 bits, 384 kHz. Files
// too long for 32-bit RIFF sizes get an RF64 header. Chunks after the audio
// (the metadata) count in the RIFF size: the header is written first, so
// their length must be known before.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quilbex::wav {

inline constexpr size_t wavHeaderSize = 56;
inline constexpr size_t rf64HeaderSize = 92;

inline constexpr uint32_t sampleRate = 384000;
inline constexpr uint32_t bytesPerSample = 2;

// The header for a payload of the given byte count followed by trailingBytes
// of whole chunks; its sizes describe the whole file.
std::vector<std::byte> buildWavHeader(uint64_t payloadBytes, uint64_t trailingBytes = 0);

// The length of that header: wavHeaderSize, or rf64HeaderSize when the sizes
// outgrow 32 bits.
size_t wavHeaderSizeFor(uint64_t payloadBytes, uint64_t trailingBytes = 0);

// That header, the payload and the trailing chunks: the length of the whole file.
inline uint64_t wavFileSizeFor(uint64_t payloadBytes, uint64_t trailingBytes = 0) {
    return wavHeaderSizeFor(payloadBytes, trailingBytes) + payloadBytes + trailingBytes;
}

// The RF64 form for any payload, which buildWavHeader picks only when it must:
// small RF64 files let the tests check the form against real readers.
std::vector<std::byte> buildRf64Header(uint64_t payloadBytes, uint64_t trailingBytes = 0);

}  // namespace quilbex::wav
