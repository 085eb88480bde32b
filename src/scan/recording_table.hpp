#pragma once
// The recordings the scan found, in card order.

#include <cstdint>
#include <vector>

#include "scan/block_format.hpp"

namespace quilbex::scan {

struct RecordingTable {
    static constexpr int32_t capacity = maxBlocks;

    // 0 to capacity.
    int32_t recordingCount = 0;
    // Ascending; recording k is [blockBounds[k], blockBounds[k + 1]). One more
    // entry than recordings, so a full table still keeps its last end.
    std::vector<int32_t> blockBounds = std::vector<int32_t>(capacity + 1, 0);
    // startTimes[k] is recording k's MS-DOS start time.
    std::vector<uint32_t> startTimes = std::vector<uint32_t>(capacity, 0);

    int32_t firstBlock(int32_t k) const { return blockBounds[static_cast<size_t>(k)]; }
    int32_t endBlock(int32_t k) const { return blockBounds[static_cast<size_t>(k) + 1]; }
    int32_t blockCount(int32_t k) const { return endBlock(k) - firstBlock(k); }
    uint64_t payloadBytes(int32_t k) const { return static_cast<uint64_t>(blockCount(k)) * blockPayloadSize; }
};

}  // namespace quilbex::scan
