#pragma once
// The recordings the scan found, in card order.

#include <cstdint>
#include <vector>

#include "scan/block_format.hpp"

namespace quilbex::scan {

struct RecordingTable {
    // Room reserved up front; a card with more recordings grows the table.
    static constexpr size_t reserved = 4096;

    int32_t recordingCount = 0;
    // Ascending; recording k is [blockBounds[k], blockBounds[k + 1]). One more
    // entry than recordings: the last one is the running end of the last.
    std::vector<int32_t> blockBounds = std::vector<int32_t>(1, 0);
    // startTimes[k] is recording k's MS-DOS start time.
    std::vector<uint32_t> startTimes;
    // Ascending: the first blocks of recordings whose own header sector could
    // not be read; their start time is the next block's.
    std::vector<int32_t> startsTakenFromNext;

    RecordingTable() {
        blockBounds.reserve(reserved + 1);
        startTimes.reserve(reserved);
    }

    // Opens a recording of one block at `first`, after the last one.
    void open(int32_t first, uint32_t startTime) {
        blockBounds.back() = first;
        blockBounds.push_back(first + 1);
        startTimes.push_back(startTime);
        ++recordingCount;
    }
    // Moves the end of the last recording (or, before the first, of nothing).
    void extendTo(int32_t end) { blockBounds.back() = end; }

    int32_t firstBlock(int32_t k) const { return blockBounds[static_cast<size_t>(k)]; }
    int32_t endBlock(int32_t k) const { return blockBounds[static_cast<size_t>(k) + 1]; }
    int32_t blockCount(int32_t k) const { return endBlock(k) - firstBlock(k); }
    uint64_t payloadBytes(int32_t k) const { return static_cast<uint64_t>(blockCount(k)) * blockPayloadSize; }
};

}  // namespace quilbex::scan
