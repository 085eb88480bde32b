#pragma once
// The pipeline's reader: walks the recordings in table order, reads each
// block into its one aligned buffer, and cuts the entry stream (WAV header,
// then the blocks' payloads) into chunks at fixed stream positions. Each chunk
// goes to the compressors and, in order, to the writer.

#include <atomic>
#include <cstdint>
#include <span>

#include "card/card_device.hpp"
#include "export/bounded_queue.hpp"
#include "export/chunk_pool.hpp"
#include "export/writer_task.hpp"
#include "platform/aligned_buffer.hpp"
#include "scan/recording_table.hpp"

namespace quilbex::exporting {

class BlockReader {
public:
    BlockReader(const scan::RecordingTable& table, card::CardDevice& card, ChunkPool& pool,
                BoundedQueue<Chunk*>& compressQueue, BoundedQueue<WriterTask>& writeQueue,
                const std::atomic<int>* stopSignal);

    // Reads until the last recording, a failed read, the stop signal or a
    // cancelled queue; then closes both queues.
    void run();

private:
    enum class Step { read, refused, seekFailed, readFailed, interrupted };

    bool readRecording(int32_t k);
    Step readBlock(int32_t block, RecordingEnd& end);
    bool beginEntry(int32_t k);
    bool append(std::span<const std::byte> bytes);
    bool startNextChunk();
    bool handOn(Chunk* chunk);
    bool endEntry(const RecordingEnd& end);

    const scan::RecordingTable& table_;
    card::CardDevice& card_;
    ChunkPool& pool_;
    BoundedQueue<Chunk*>& compressQueue_;
    BoundedQueue<WriterTask>& writeQueue_;
    const std::atomic<int>* stopSignal_;
    platform::AlignedBuffer block_;
    Chunk* current_ = nullptr;  // the chunk being filled; not yet handed on
};

}  // namespace quilbex::exporting
