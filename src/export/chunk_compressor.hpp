#pragma once
// Raw deflate at level 1 for one chunk at a time, with the chunk's history as
// the dictionary. Each chunk ends on a byte boundary (a sync flush), and an
// entry's last chunk with the final block, so the chunks of an entry, put
// end to end, are one deflate stream. The output depends only on the chunk's
// history and data, never on which compressor or thread made it.

#include <memory>

#include "export/chunk.hpp"

struct isal_zstream;

namespace quilbex::exporting {

class ChunkCompressor {
public:
    ChunkCompressor();
    ~ChunkCompressor();
    ChunkCompressor(const ChunkCompressor&) = delete;
    ChunkCompressor& operator=(const ChunkCompressor&) = delete;

    // Fills the chunk's compressed data, deflated flag and CRC-32.
    void compress(Chunk& chunk);

private:
    std::unique_ptr<isal_zstream> stream_;  // large: kept off the thread's stack
    std::unique_ptr<uint8_t[]> levelBuffer_;
};

}  // namespace quilbex::exporting
