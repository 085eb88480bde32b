#include "export/chunk_pool.hpp"

namespace quilbex::exporting {

ChunkPool::ChunkPool(size_t count) : free_(count) {
    chunks_.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        chunks_.push_back(std::make_unique<Chunk>());
        free_.push(chunks_.back().get());
    }
}

Chunk* ChunkPool::acquire() {
    const auto chunk = free_.pop();
    return chunk ? *chunk : nullptr;
}

void ChunkPool::release(Chunk* chunk) { free_.push(chunk); }

void ChunkPool::cancel() { free_.cancel(); }

}  // namespace quilbex::exporting
