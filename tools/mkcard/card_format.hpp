#pragma once

#include <cstddef>
#include <cstdint>

namespace mkcard {

inline constexpr std::size_t kBlockSize = 4u * 1024u * 1024u;
inline constexpr std::size_t kHeaderSize = 16;
inline constexpr std::size_t kTrailerSize = 16;
inline constexpr std::size_t kPayloadSize = kBlockSize - kHeaderSize - kTrailerSize;
inline constexpr std::size_t kSamplesPerBlock = kPayloadSize / 2;
inline constexpr std::uint32_t kMagic = 0x26CB395Au;
inline constexpr std::uint32_t kSampleRate = 384000;

// Header field offsets inside a block (logical byte order).
inline constexpr std::size_t kSeqOffset = 2;
inline constexpr std::size_t kMagicOffset = 4;
inline constexpr std::size_t kTimeOffset = 8;

// Non-zero so tests can prove the reader really drops trailers.
inline constexpr std::uint8_t kTrailerByte = 0xEE;

}  // namespace mkcard
