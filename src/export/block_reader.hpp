#pragma once
// The pipeline's reader: walks the plan's files in order, reads each block of
// their recordings once into a buffer from the block pool, and cuts each
// file's stream (WAV header, the payload it holds, its metadata chunk) into
// chunks: at fixed positions, four per block, and at the files' bounds. Each
// chunk goes to the compressors and, in order, to the writer.

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "card/card_device.hpp"
#include "card/sector_rescue.hpp"
#include "export/block_cutter.hpp"
#include "export/block_pool.hpp"
#include "export/bounded_queue.hpp"
#include "export/chunk_pool.hpp"
#include "export/writer_task.hpp"
#include "output/file_plan.hpp"
#include "scan/recording_table.hpp"

namespace quilbex::exporting {

class BlockReader {
public:
    BlockReader(const output::FilePlan& plan, const scan::RecordingTable& table, card::CardDevice& card,
                BlockPool& blocks, ChunkPool& chunks, BoundedQueue<Chunk*>& compressQueue,
                BoundedQueue<WriterTask>& writeQueue, const std::atomic<int>* stopSignal);

    // Goes on past unreadable sectors of sectorSize bytes from now on.
    void rescueSectors(uint32_t sectorSize);
    // Compares the first sector of every block read whole with the CRC-32
    // the scan kept of it (scan::ScanResult::headerSectorCrcs).
    void compareHeaderSectors(const std::vector<std::optional<uint32_t>>& crcs, uint32_t sectorSize) {
        headerSectorCrcs_ = &crcs;
        sectorSize_ = sectorSize;
    }
    // After run(): the blocks whose first sector differed, in order.
    const std::vector<int32_t>& blocksReadOtherwise() const { return blocksReadOtherwise_; }

    // Reads until the last file, a failed read (or the end of the rescue),
    // the stop signal or a cancelled pipeline; then closes both queues.
    void run();

private:
    enum class Step { read, refused, seekFailed, readFailed, interrupted, cancelled };
    // Where the walk goes after a file.
    enum class Next { file, recording, stop };

    Next readFile(const output::PlannedFile& file);
    Step loadBlock(int32_t block, std::span<const std::byte> header, RecordingEnd& end);
    Step readBlock(BlockBuffer& buffer, int32_t block, RecordingEnd& end);
    void compareHeaderSector(BlockBuffer& buffer, int32_t block);
    Step rescueBlock(BlockBuffer& buffer, int32_t block, const card::ReadFailure& failure, RecordingEnd& end);
    std::optional<uint64_t> cutChunk(const output::PlannedFile& file, uint64_t position,
                                     std::span<const std::byte> leadHeader);
    bool handOnOwnBytes(const output::PlannedFile& file, std::span<const std::byte> header, bool last,
                        const RecordingEnd* end);
    bool handOn(Chunk* chunk);
    void dropBlock();
    bool endsRecording(const output::PlannedFile& file) const;

    const output::FilePlan& plan_;
    const scan::RecordingTable& table_;
    card::CardDevice& card_;
    BlockPool& blocks_;
    ChunkPool& chunks_;
    BoundedQueue<Chunk*>& compressQueue_;
    BoundedQueue<WriterTask>& writeQueue_;
    const std::atomic<int>* stopSignal_;
    BlockCutter cutter_;
    std::optional<card::SectorRescue> rescue_;
    // The block in hand, whose payload may hold the start of the next file;
    // null when none.
    BlockBuffer* buffer_ = nullptr;
    int32_t bufferBlock_ = 0;  // meaningful with buffer_
    // The damage of the block just read, for its first chunk.
    BlockDamage damage_;
    // The damage of the block in hand.
    BlockDamage heldDamage_;
    // The bytes of the file's audio that the rescue zero-filled so far.
    uint64_t fileDamage_ = 0;
    const std::vector<std::optional<uint32_t>>* headerSectorCrcs_ = nullptr;
    uint32_t sectorSize_ = 0;
    std::vector<int32_t> blocksReadOtherwise_;  // the reader's until run() returns
};

}  // namespace quilbex::exporting
