#pragma once
// Raw deflate for one chunk at a time: a literals-only block when matches
// would not pay (see deflate_choice.hpp), otherwise ISA-L's level 1 with the
// chunk's history as the dictionary. Each chunk ends on a byte boundary (a sync flush), and an
// entry's last chunk with the final block, so the chunks of an entry, put
// end to end, are one deflate stream. The output depends only on the chunk's
// history and data, never on which compressor or thread made it.

#include <memory>

#include "export/chunk.hpp"
#include "deflate/deflate_choice.hpp"
#include "deflate/literal_deflate.hpp"

struct isal_zstream;

namespace quilbex::exporting {

class ChunkCompressor {
public:
    explicit ChunkCompressor(deflate::DeflateMode mode = deflate::DeflateMode::perChunk);
    ~ChunkCompressor();
    ChunkCompressor(const ChunkCompressor&) = delete;
    ChunkCompressor& operator=(const ChunkCompressor&) = delete;

    // Fills the chunk's compressed data, deflated flag and CRC-32.
    void compress(Chunk& chunk);

private:
    // Whether the literal block served the chunk (and was written).
    bool deflateLiterals(Chunk& chunk);
    void deflateWithIsal(Chunk& chunk);

    deflate::DeflateMode mode_;
    deflate::LiteralDeflate literals_;
    std::unique_ptr<isal_zstream> stream_;  // large: kept off the thread's stack
    std::unique_ptr<uint8_t[]> levelBuffer_;
};

}  // namespace quilbex::exporting
