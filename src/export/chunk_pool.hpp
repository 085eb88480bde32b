#pragma once
// The fixed set of chunks the pipeline works with: the reader takes a free
// one, the writer gives it back once its compressed data is in the archive.
// With the block pool, their number bounds the export's memory whatever the
// recordings' lengths.

#include <cstddef>
#include <memory>
#include <vector>

#include "export/bounded_queue.hpp"
#include "export/chunk.hpp"

namespace quilbex::exporting {

class ChunkPool {
public:
    explicit ChunkPool(size_t count);

    // Waits for a free chunk; null once the pool is cancelled.
    Chunk* acquire();
    void release(Chunk* chunk);
    // Wakes a reader waiting in acquire.
    void cancel();

private:
    std::vector<std::unique_ptr<Chunk>> chunks_;
    BoundedQueue<Chunk*> free_;
};

}  // namespace quilbex::exporting
