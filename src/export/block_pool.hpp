#pragma once
// The card blocks in flight: a fixed set of aligned buffers that the reader
// reads whole blocks into and the compressors deflate straight from. Each
// buffer has room before the block for the 32 KiB of stream that precede the
// block's payload (or the WAV header), so every chunk and its dictionary lie
// in one piece of memory. A buffer goes back to the pool when the reader and
// every chunk cut from it are done with it.

#include <atomic>
#include <cstddef>
#include <memory>
#include <span>
#include <vector>

#include "export/bounded_queue.hpp"
#include "platform/aligned_buffer.hpp"

namespace quilbex::exporting {

class BlockPool;

class BlockBuffer {
public:
    BlockBuffer(BlockPool& pool, size_t alignment);

    // Where the card block is read: aligned for the device.
    std::span<std::byte> block();
    // The block's payload, and the lead bytes before it (at least 32 KiB,
    // over the block's own header) for the bytes that precede it in the stream.
    std::byte* payload();

    void addUser() { users_.fetch_add(1, std::memory_order_relaxed); }
    // Back to the pool once the last user lets go.
    void release();

private:
    friend class BlockPool;

    BlockPool& pool_;
    size_t lead_;  // bytes before the block, a multiple of the alignment
    platform::AlignedBuffer memory_;
    std::atomic<int> users_{0};
};

class BlockPool {
public:
    BlockPool(size_t count, size_t alignment);

    // Waits for a free buffer, which comes with the caller as its one user;
    // null once the pool is cancelled.
    BlockBuffer* acquire();
    // Wakes a reader waiting in acquire.
    void cancel();

private:
    friend class BlockBuffer;
    void giveBack(BlockBuffer* buffer);

    std::vector<std::unique_ptr<BlockBuffer>> buffers_;
    BoundedQueue<BlockBuffer*> free_;
};

}  // namespace quilbex::exporting
