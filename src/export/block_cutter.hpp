#pragma once
// How an entry's stream (WAV header, then the payloads of its blocks) is cut
// into chunks at fixed positions: four per block, the entry's header in front
// of the first chunk of its first block. A chunk's dictionary, the 32 KiB of
// stream before it, lies right before it in memory: in front of a block's
// payload go the entry's header or the previous block's last 32 KiB, which
// the cutter keeps.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "export/chunk.hpp"
#include "scan/block_format.hpp"

namespace quilbex::exporting {

class BlockCutter {
public:
    static constexpr size_t chunksPerBlock =
        (static_cast<size_t>(scan::blockPayloadSize) + Chunk::capacity - 1) / Chunk::capacity;

    BlockCutter() : history_(Chunk::historyCapacity) {}

    // Puts in front of the block's payload what precedes it in the stream:
    // the header when one is given (the entry's first block), else the last
    // 32 KiB of the previous block; keeps this block's last 32 KiB for the
    // next. `payload` needs room for 32 KiB in front of it.
    void placeLead(std::byte* payload, std::span<const std::byte> header);

    // Makes the chunk piece `piece` (0 to chunksPerBlock - 1) of recording
    // k's block whose lead holds a header of headerSize bytes (0 when it holds
    // history): it opens the entry when it is the first piece after a header,
    // and ends it when it is the last piece of the entry's last block.
    static void cut(Chunk& chunk, int32_t k, const std::byte* payload, size_t piece, size_t headerSize,
                    bool lastBlock);

private:
    std::vector<std::byte> history_;
};

}  // namespace quilbex::exporting
