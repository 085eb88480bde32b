#pragma once
// The WAV header in front of every recording: PCM, mono, 16 bits, 384 kHz.
// Recordings too long for 32-bit RIFF sizes get an RF64 header.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quilbex::exporting {

// Every sample of the payload: 16-bit mono at the recorder's fixed rate.
inline constexpr uint32_t sampleRate = 384000;
inline constexpr uint16_t bytesPerSample = 2;

inline constexpr size_t wavHeaderSize = 56;
inline constexpr size_t rf64HeaderSize = 92;

// The header for a payload of the given byte count; its sizes describe the
// whole file (header plus payload).
std::vector<std::byte> buildWavHeader(uint64_t payloadBytes);

// The length of that header: wavHeaderSize, or rf64HeaderSize when the sizes
// outgrow 32 bits.
size_t wavHeaderSizeFor(uint64_t payloadBytes);

// That header and the payload: the length of the whole file.
inline uint64_t wavFileSizeFor(uint64_t payloadBytes) { return wavHeaderSizeFor(payloadBytes) + payloadBytes; }

// The RF64 form for any payload, which buildWavHeader picks only when it must:
// small RF64 files let the tests check the form against real readers.
std::vector<std::byte> buildRf64Header(uint64_t payloadBytes);

}  // namespace quilbex::exporting
