#include "export/block_reader.hpp"

#include <algorithm>
#include <cstring>

#include "card/sector_reader.hpp"
#include "export/wav_header.hpp"

namespace quilbex::exporting {

BlockReader::BlockReader(const scan::RecordingTable& table, card::CardDevice& card, ChunkPool& pool,
                         BoundedQueue<Chunk*>& compressQueue, BoundedQueue<WriterTask>& writeQueue,
                         const std::atomic<int>* stopSignal)
    : table_(table),
      card_(card),
      pool_(pool),
      compressQueue_(compressQueue),
      writeQueue_(writeQueue),
      stopSignal_(stopSignal),
      block_(static_cast<size_t>(scan::blockSize), card.raw().bufferAlignment()) {}

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
    RecordingEnd ending;
    Step step = first < end ? readBlock(first, ending) : Step::read;
    // Skipped before anything of the entry exists. Later seeks cannot be
    // refused as they lie further into the card; should one be, the entry
    // keeps what was read before it.
    if (step == Step::refused) return writeQueue_.push({k, nullptr});
    if (!beginEntry(k)) return false;
    for (int32_t block = first; step == Step::read && block < end;) {
        if (!append(block_.span().subspan(scan::blockHeaderSize, scan::blockPayloadSize))) return false;
        if (++block < end) step = readBlock(block, ending);
    }
    if (!endEntry(ending)) return false;
    return step != Step::readFailed && step != Step::interrupted;
}

// Leaves the block's bytes, bit order restored, in block_ when it returns
// Step::read; otherwise records in `end` how the recording ended.
BlockReader::Step BlockReader::readBlock(int32_t block, RecordingEnd& end) {
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
    if (const auto failure = card::readSectors(card_.raw(), block_.span())) {
        end = {Reason::readFailed, block, 0, *failure};
        return Step::readFailed;
    }
    return Step::read;
}

bool BlockReader::beginEntry(int32_t k) {
    current_ = pool_.acquire();
    if (!current_) return false;
    current_->reset(k, true);
    const auto payloadBytes = static_cast<uint64_t>(table_.blockCount(k)) * scan::blockPayloadSize;
    const auto header = buildWavHeader(payloadBytes);
    return append(header);
}

// A full chunk is handed on only when more bytes follow, so the entry's last
// chunk is never empty and always known to be last.
bool BlockReader::append(std::span<const std::byte> bytes) {
    while (!bytes.empty()) {
        if (current_->length == Chunk::capacity && !startNextChunk()) return false;
        const size_t n = std::min(Chunk::capacity - current_->length, bytes.size());
        std::memcpy(current_->input() + current_->length, bytes.data(), n);
        current_->length += n;
        bytes = bytes.subspan(n);
    }
    return true;
}

bool BlockReader::startNextChunk() {
    Chunk* next = pool_.acquire();
    if (!next) return false;
    next->reset(current_->recording, false);
    // The full chunk is still the reader's own: copy its tail before handing it on.
    next->historyLength = std::min(Chunk::historyCapacity, current_->length);
    std::memcpy(next->historyArea(), current_->input() + current_->length - next->historyLength,
                next->historyLength);
    Chunk* full = current_;
    current_ = next;
    return handOn(full);
}

bool BlockReader::handOn(Chunk* chunk) {
    return writeQueue_.push({chunk->recording, chunk}) && compressQueue_.push(chunk);
}

bool BlockReader::endEntry(const RecordingEnd& end) {
    Chunk* lastChunk = current_;
    current_ = nullptr;
    lastChunk->last = true;
    lastChunk->end = end;
    return handOn(lastChunk);
}

}  // namespace quilbex::exporting
