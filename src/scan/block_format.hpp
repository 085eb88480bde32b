#pragma once
// How the recorder lays a recording out on the card: consecutive 4 MiB
// blocks, each a 16-byte header, the payload and a 16-byte trailer. All
// fields are little-endian in the bytes as restored from the card.

#include <cstdint>
#include <span>

namespace quilbex::scan {

inline constexpr int64_t blockSize = 4194304;
inline constexpr int64_t blockHeaderSize = 16;
inline constexpr int64_t blockPayloadSize = 4194272;
inline constexpr int64_t blockTrailerSize = 16;
inline constexpr uint32_t blockMagic = 0x26CB395A;
// The header fields all lie in the first bytes of a block.
inline constexpr uint32_t blockHeaderFieldsSize = 12;
// The scan never examines more blocks without the magic than this, counted
// over the whole walk.
inline constexpr int32_t maxBlocksWithoutMagic = 5;

struct BlockHeader {
    uint16_t sequenceNumber = 0;  // 0 opens a recording
    uint32_t magic = 0;
    uint32_t startTime = 0;  // MS-DOS date/time
};

// Needs at least blockHeaderFieldsSize restored bytes.
BlockHeader decodeBlockHeader(std::span<const std::byte> bytes);

// The CRC-32 of a block's first sector as read, which the scan keeps and
// the check (-c) compares with the sector's second reading in the export.
uint32_t headerSectorCrc(std::span<const std::byte> sector);

}  // namespace quilbex::scan
