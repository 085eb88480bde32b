#include "export/block_reader.hpp"

#include <algorithm>
#include <utility>

#include "card/sector_reader.hpp"
#include "wav/wav_header.hpp"

namespace quilbex::exporting {

BlockReader::BlockReader(const scan::RecordingTable& table, card::CardDevice& card, BlockPool& blocks,
                         ChunkPool& chunks, BoundedQueue<Chunk*>& compressQueue, BoundedQueue<WriterTask>& writeQueue,
                         const std::atomic<int>* stopSignal)
    : table_(table),
      card_(card),
      blocks_(blocks),
      chunks_(chunks),
      compressQueue_(compressQueue),
      writeQueue_(writeQueue),
      stopSignal_(stopSignal) {}

void BlockReader::rescueSectors(uint32_t sectorSize) { rescue_.emplace(card_.raw(), sectorSize, stopSignal_); }

void BlockReader::run() {
    for (int32_t k = 0; k < table_.recordingCount; ++k)
        if (!readRecording(k)) break;
    compressQueue_.close();
    writeQueue_.close();
}

// False when reading must stop: a failed read, the stop signal or a cancelled
// pipeline.
bool BlockReader::readRecording(int32_t k) {
    const int32_t first = table_.firstBlock(k);
    const int32_t end = table_.endBlock(k);
    const auto header = wav::buildWavHeader(table_.payloadBytes(k));
    RecordingEnd ending;
    for (int32_t block = first; block < end; ++block) {
        BlockBuffer* buffer = blocks_.acquire();
        if (!buffer) return false;
        const Step step = readBlock(*buffer, block, ending);
        if (step != Step::read) buffer->release();
        // Skipped before anything of the entry exists. Later seeks cannot be
        // refused as they lie further into the card; should one be, the
        // entry keeps what was read before it.
        if (step == Step::refused && block == first) return writeQueue_.push({k, nullptr});
        if (step != Step::read) {
            if (!endEarly(k, header, block == first, ending)) return false;
            return step != Step::readFailed && step != Step::interrupted;
        }
        const bool opensEntry = block == first;
        if (!cutBlock(k, *buffer, opensEntry ? std::span<const std::byte>(header) : std::span<const std::byte>(),
                      block + 1 == end))
            return false;
    }
    // A recording without blocks is its header alone.
    return first < end || endEarly(k, header, true, ending);
}

// Leaves the block's bytes, bit order restored, in the buffer when it
// returns Step::read; otherwise records in `end` how the recording ended.
BlockReader::Step BlockReader::readBlock(BlockBuffer& buffer, int32_t block, RecordingEnd& end) {
    using Reason = RecordingEnd::Reason;
    if (stopSignal_ && stopSignal_->load() != 0) {
        end = {Reason::interrupted, block, 0, {}};
        return Step::interrupted;
    }
    bool attempted = false;
    const int64_t position = card_.fileSeek(int64_t{block} * scan::blockSize, attempted);
    if (!attempted) {
        end = {Reason::seekRefused, block, 0, {}};
        return Step::refused;
    }
    if (position == -1) {
        end = {Reason::seekFailed, block, card_.lastErrorCode(), {}};
        return Step::seekFailed;
    }
    if (const auto failure = card::readSectors(card_.raw(), buffer.block())) {
        if (rescue_) return rescueBlock(buffer, block, *failure, end);
        end = {Reason::readFailed, block, 0, *failure};
        return Step::readFailed;
    }
    return Step::read;
}

// A block the rescue stopped in is not stored: the recording ends before it,
// as at a failed read.
BlockReader::Step BlockReader::rescueBlock(BlockBuffer& buffer, int32_t block, const card::ReadFailure& failure,
                                           RecordingEnd& end) {
    using Reason = RecordingEnd::Reason;
    const auto rescued = rescue_->recover(block, int64_t{block} * scan::blockSize, buffer.block(), failure);
    switch (rescued.stop) {
    case card::RescueStop::none:
        damage_ = {block, rescued.damage};
        return Step::read;
    case card::RescueStop::interrupted:
        end = {Reason::interrupted, block, 0, {}};
        return Step::interrupted;
    default:
        end = {Reason::readFailed, block, 0, rescued.lastFailure, rescued.stop};
        return Step::readFailed;
    }
}

// Hands on the block's payload as chunks at fixed offsets, the entry's header
// (when given) in front of the first; the buffer's lead bytes take the header
// or, for a later block, the previous block's last 32 KiB as dictionary.
bool BlockReader::cutBlock(int32_t k, BlockBuffer& buffer, std::span<const std::byte> header, bool lastBlock) {
    std::byte* payload = buffer.payload();
    cutter_.placeLead(payload, header);
    bool ok = true;
    for (size_t piece = 0; ok && piece < BlockCutter::chunksPerBlock; ++piece) {
        Chunk* chunk = chunks_.acquire();
        ok = chunk != nullptr;
        if (!ok) break;
        BlockCutter::cut(*chunk, k, payload, piece, header.size(), lastBlock);
        if (piece == 0) chunk->damage = std::exchange(damage_, {});
        chunk->block = &buffer;
        buffer.addUser();
        ok = handOn(chunk);
    }
    buffer.release();
    return ok;
}

// Ends an entry whose recording stopped before its last block: with its
// header alone when no chunk of it was handed on, else with an empty final
// chunk after the sync-flushed ones.
bool BlockReader::endEarly(int32_t k, std::span<const std::byte> header, bool nothingHandedOn,
                           const RecordingEnd& end) {
    Chunk* chunk = chunks_.acquire();
    if (!chunk) return false;
    chunk->reset(k, nothingHandedOn);
    if (nothingHandedOn) {
        std::copy(header.begin(), header.end(), chunk->ownBytes.begin());
        chunk->data = std::span<const std::byte>(chunk->ownBytes).first(header.size());
    }
    chunk->last = true;
    chunk->end = end;
    return handOn(chunk);
}

bool BlockReader::handOn(Chunk* chunk) {
    return writeQueue_.push({chunk->recording, chunk}) && compressQueue_.push(chunk);
}

}  // namespace quilbex::exporting
