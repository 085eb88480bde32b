#pragma once
// The pipeline's reader: walks the recordings in table order, reads each
// block into a buffer from the block pool, and cuts the entry stream (WAV
// header, then the blocks' payloads) into chunks at fixed positions: four per
// block, the first of an entry with the header in front. Each chunk goes to
// the compressors and, in order, to the writer.

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>

#include "card/card_device.hpp"
#include "card/sector_rescue.hpp"
#include "export/block_cutter.hpp"
#include "export/block_pool.hpp"
#include "export/bounded_queue.hpp"
#include "export/chunk_pool.hpp"
#include "export/writer_task.hpp"
#include "scan/recording_table.hpp"

namespace quilbex::exporting {

class BlockReader {
public:
    BlockReader(const scan::RecordingTable& table, card::CardDevice& card, BlockPool& blocks, ChunkPool& chunks,
                BoundedQueue<Chunk*>& compressQueue, BoundedQueue<WriterTask>& writeQueue,
                const std::atomic<int>* stopSignal);

    // Goes on past unreadable sectors of sectorSize bytes from now on.
    void rescueSectors(uint32_t sectorSize);

    // Reads until the last recording, a failed read (or the end of the
    // rescue), the stop signal or a cancelled pipeline; then closes both
    // queues.
    void run();

private:
    enum class Step { read, refused, seekFailed, readFailed, interrupted };

    bool readRecording(int32_t k);
    Step readBlock(BlockBuffer& buffer, int32_t block, RecordingEnd& end);
    Step rescueBlock(BlockBuffer& buffer, int32_t block, const card::ReadFailure& failure, RecordingEnd& end);
    bool cutBlock(int32_t k, BlockBuffer& buffer, std::span<const std::byte> header, bool lastBlock);
    bool endEarly(int32_t k, std::span<const std::byte> header, bool nothingHandedOn, const RecordingEnd& end);
    bool handOn(Chunk* chunk);

    const scan::RecordingTable& table_;
    card::CardDevice& card_;
    BlockPool& blocks_;
    ChunkPool& chunks_;
    BoundedQueue<Chunk*>& compressQueue_;
    BoundedQueue<WriterTask>& writeQueue_;
    const std::atomic<int>* stopSignal_;
    BlockCutter cutter_;
    std::optional<card::SectorRescue> rescue_;
    // The damage of the block just read, for its first chunk.
    BlockDamage damage_;
};

}  // namespace quilbex::exporting
