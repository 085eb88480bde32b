#pragma once
// How a file's stream (WAV header, then the payloads of its blocks) is cut
// into chunks at fixed positions: four per block, and at the bounds of the
// files when recordings are cut into pieces; a whole recording's header goes
// in front of the first chunk of its first block. A chunk's dictionary, the
// 32 KiB of the file's stream before it, lies right before it in memory: in
// front of a block's payload go the file's header or the previous block's
// last 32 KiB, which the cutter keeps. Where the file has fewer bytes before
// the chunk (a piece that starts inside a block), the dictionary is shorter.

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

    // Where the chunk that starts at `start` of a block's payload ends: at the
    // next fixed position, or at `limit` when that comes first.
    static size_t nextCut(size_t start, size_t limit);

    // Makes the chunk the bytes [start, stop) of recording k's block payload.
    // With a header of headerSize bytes in the block's lead (start is then 0)
    // it opens its file with them; otherwise the historyBytes (at most 32
    // KiB) of the file's stream right before it are its dictionary.
    static void cut(Chunk& chunk, int32_t k, const std::byte* payload, size_t start, size_t stop, size_t headerSize,
                    size_t historyBytes);

private:
    std::vector<std::byte> history_;
};

}  // namespace quilbex::exporting
