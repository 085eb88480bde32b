#include "export/block_pool.hpp"

#include "export/chunk.hpp"
#include "scan/block_format.hpp"

namespace quilbex::exporting {
namespace {

// Room for the stream's 32 KiB before the payload, which starts after the
// block's header, kept to whole alignment units so the block stays aligned.
size_t leadFor(size_t alignment) {
    const size_t needed = Chunk::historyCapacity - scan::blockHeaderSize;
    return (needed + alignment - 1) / alignment * alignment;
}

}  // namespace

BlockBuffer::BlockBuffer(BlockPool& pool, size_t alignment)
    : pool_(pool), lead_(leadFor(alignment)), memory_(lead_ + scan::blockSize, alignment) {}

std::span<std::byte> BlockBuffer::block() { return memory_.span().subspan(lead_); }

std::byte* BlockBuffer::payload() { return memory_.data() + lead_ + scan::blockHeaderSize; }

void BlockBuffer::release() {
    // The last user sees every other user's reads finished before the reader
    // may fill the buffer again.
    if (users_.fetch_sub(1, std::memory_order_acq_rel) == 1) pool_.giveBack(this);
}

BlockPool::BlockPool(size_t count, size_t alignment) : free_(count) {
    buffers_.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        buffers_.push_back(std::make_unique<BlockBuffer>(*this, alignment));
        free_.push(buffers_.back().get());
    }
}

BlockBuffer* BlockPool::acquire() {
    const auto buffer = free_.pop();
    if (!buffer) return nullptr;
    (*buffer)->users_.store(1, std::memory_order_relaxed);
    return *buffer;
}

void BlockPool::cancel() { free_.cancel(); }

void BlockPool::giveBack(BlockBuffer* buffer) { free_.push(buffer); }

}  // namespace quilbex::exporting
