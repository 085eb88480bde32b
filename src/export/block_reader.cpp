#include "export/block_reader.hpp"

#include <algorithm>
#include <utility>

#include "card/sector_reader.hpp"
#include "scan/block_format.hpp"

namespace quilbex::exporting {
namespace {

constexpr auto payloadSize = static_cast<uint64_t>(scan::blockPayloadSize);

}  // namespace

BlockReader::BlockReader(const output::FilePlan& plan, const scan::RecordingTable& table, card::CardDevice& card,
                         BlockPool& blocks, ChunkPool& chunks, BoundedQueue<Chunk*>& compressQueue,
                         BoundedQueue<WriterTask>& writeQueue, const std::atomic<int>* stopSignal)
    : plan_(plan),
      table_(table),
      card_(card),
      blocks_(blocks),
      chunks_(chunks),
      compressQueue_(compressQueue),
      writeQueue_(writeQueue),
      stopSignal_(stopSignal) {}

void BlockReader::rescueSectors(uint32_t sectorSize) { rescue_.emplace(card_.raw(), sectorSize, stopSignal_); }

void BlockReader::run() {
    std::optional<int32_t> recording;
    std::optional<int32_t> skipped;
    plan_.forEach([&](const output::PlannedFile& file) {
        if (file.recording == skipped) return true;
        // A block is never shared between recordings.
        if (file.recording != recording) dropBlock();
        recording = file.recording;
        const Next next = readFile(file);
        if (next == Next::recording) skipped = file.recording;
        return next != Next::stop;
    });
    dropBlock();
    compressQueue_.close();
    writeQueue_.close();
}

// Next::recording when the rest of the recording is not to be read (a seek
// refused at its first block, or one that failed), Next::stop when reading
// must stop: a failed read, the stop signal or a cancelled pipeline.
BlockReader::Next BlockReader::readFile(const output::PlannedFile& file) {
    const int32_t first = table_.firstBlock(file.recording);
    const auto header = plan_.header(file);
    // A whole recording's header stands in front of its first block's
    // payload, as the stream has it; a piece's has a chunk of its own.
    const bool headerInLead = file.piece < 0;
    const uint64_t end = file.payloadOffset + file.payloadBytes;
    bool opened = false;
    fileDamage_ = 0;
    for (uint64_t position = file.payloadOffset; position < end;) {
        const int32_t block = first + static_cast<int32_t>(position / payloadSize);
        const auto leadHeader = headerInLead && !opened ? std::span<const std::byte>(header)
                                                        : std::span<const std::byte>();
        if (!buffer_ || block != bufferBlock_) {
            RecordingEnd ending;
            const Step step = loadBlock(block, leadHeader, ending);
            // Skipped before anything of the recording exists. Later seeks
            // cannot be refused as they lie further into the card; should one
            // be, the file keeps what was read before it.
            if (step == Step::cancelled) return Next::stop;
            if (step == Step::refused && block == first)
                return writeQueue_.push({file.recording, nullptr}) ? Next::recording : Next::stop;
            if (step != Step::read) {
                if (!handOnOwnBytes(file, opened ? std::span<const std::byte>() : header, true, &ending))
                    return Next::stop;
                return step == Step::readFailed || step == Step::interrupted ? Next::stop : Next::recording;
            }
        }
        if (!opened && !headerInLead && !handOnOwnBytes(file, header, false, nullptr)) return Next::stop;
        opened = true;
        const auto next = cutChunk(file, position, leadHeader);
        if (!next) return Next::stop;
        position = *next;
    }
    // After the audio: the metadata chunk, or the header of a file without
    // audio.
    if (opened && !plan_.options().guano) return Next::file;
    const RecordingEnd complete;
    return handOnOwnBytes(file, opened ? std::span<const std::byte>() : header, true,
                          endsRecording(file) ? &complete : nullptr)
               ? Next::file
               : Next::stop;
}

// Releases the block in hand, reads `block` into a new buffer and puts in
// front of its payload the header, when given, else the previous block's last
// 32 KiB. The buffer is in hand when it returns Step::read; otherwise `end`
// says how the recording ended.
BlockReader::Step BlockReader::loadBlock(int32_t block, std::span<const std::byte> header, RecordingEnd& end) {
    dropBlock();
    BlockBuffer* buffer = blocks_.acquire();
    if (!buffer) return Step::cancelled;
    const Step step = readBlock(*buffer, block, end);
    if (step != Step::read) {
        buffer->release();
        return step;
    }
    buffer_ = buffer;
    bufferBlock_ = block;
    heldDamage_ = damage_;
    cutter_.placeLead(buffer->payload(), header);
    return Step::read;
}

// Leaves the block's bytes, bit order restored, in the buffer when it
// returns Step::read; otherwise records in `end` how the recording ended.
BlockReader::Step BlockReader::readBlock(BlockBuffer& buffer, int32_t block, RecordingEnd& end) {
    using Reason = RecordingEnd::Reason;
    if (stopSignal_ && stopSignal_->load() != 0) {
        end = {Reason::interrupted, block, {}, {}};
        return Step::interrupted;
    }
    bool attempted = false;
    const int64_t position = card_.fileSeek(int64_t{block} * scan::blockSize, attempted);
    if (!attempted) {
        end = {Reason::seekRefused, block, {}, {}};
        return Step::refused;
    }
    if (position == -1) {
        end = {Reason::seekFailed, block, card_.lastError(), {}};
        return Step::seekFailed;
    }
    if (const auto failure = card::readSectors(card_.raw(), buffer.block())) {
        if (rescue_) return rescueBlock(buffer, block, *failure, end);
        end = {Reason::readFailed, block, {}, *failure};
        return Step::readFailed;
    }
    compareHeaderSector(buffer, block);
    return Step::read;
}

// A card that gives other bytes for the same sector a second time holds no
// trustworthy copy of anything; the check says so.
void BlockReader::compareHeaderSector(BlockBuffer& buffer, int32_t block) {
    if (!headerSectorCrcs_ || static_cast<size_t>(block) >= headerSectorCrcs_->size()) return;
    const auto& scanned = (*headerSectorCrcs_)[static_cast<size_t>(block)];
    if (scanned && *scanned != scan::headerSectorCrc(buffer.block().first(sectorSize_)))
        blocksReadOtherwise_.push_back(block);
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
        end = {Reason::interrupted, block, {}, {}};
        return Step::interrupted;
    default:
        end = {Reason::readFailed, block, {}, rescued.lastFailure, rescued.stop};
        return Step::readFailed;
    }
}

// Hands on the chunk of the file's stream that starts at `position` of its
// recording's payload, in the block in hand: up to the next fixed position
// or the file's end, with the header in the lead in front when given.
// Returns the position after it; nothing when the pipeline was cancelled.
std::optional<uint64_t> BlockReader::cutChunk(const output::PlannedFile& file, uint64_t position,
                                              std::span<const std::byte> leadHeader) {
    const uint64_t blockStart = position - position % payloadSize;
    const uint64_t end = file.payloadOffset + file.payloadBytes;
    const auto start = static_cast<size_t>(position - blockStart);
    const size_t stop = BlockCutter::nextCut(start, static_cast<size_t>(std::min(end - blockStart, payloadSize)));
    Chunk* chunk = chunks_.acquire();
    if (!chunk) return {};
    const auto history = static_cast<size_t>(std::min<uint64_t>(Chunk::historyCapacity, position - file.payloadOffset));
    BlockCutter::cut(*chunk, file.recording, buffer_->payload(), start, stop, leadHeader.size(), history);
    if (chunk->first) chunk->file = file;
    if (start == 0) chunk->damage = std::exchange(damage_, {});
    if ((start == 0 || position == file.payloadOffset) && heldDamage_.sectors.any()) {
        // The block's own header and trailer go with the file of the payload beside them.
        const size_t fileStop = static_cast<size_t>(std::min(end - blockStart, payloadSize));
        const auto from = start == 0 ? 0 : static_cast<size_t>(scan::blockHeaderSize) + start;
        const auto to = fileStop == payloadSize ? static_cast<size_t>(scan::blockSize)
                                                : static_cast<size_t>(scan::blockHeaderSize) + fileStop;
        chunk->fileDamage = {heldDamage_.block, heldDamage_.sectors.within(from, to)};
        // The metadata counts the file's own audio alone, which is what
        // its room was kept for.
        const auto audio = static_cast<size_t>(scan::blockHeaderSize);
        fileDamage_ += heldDamage_.sectors.within(audio + start, audio + fileStop).unreadableBytes;
    }
    chunk->last = blockStart + stop == end && !plan_.options().guano;
    chunk->endsRecording = chunk->last && endsRecording(file);
    chunk->block = buffer_;
    buffer_->addUser();
    if (!handOn(chunk)) return {};
    return blockStart + stop;
}

// Hands on a chunk of its own bytes: the header when given (which opens the
// file), and when it ends a file read whole, the metadata chunk. `end` is set
// when it ends the reading of the recording.
bool BlockReader::handOnOwnBytes(const output::PlannedFile& file, std::span<const std::byte> header, bool last,
                                 const RecordingEnd* end) {
    Chunk* chunk = chunks_.acquire();
    if (!chunk) return false;
    chunk->reset(file.recording, !header.empty());
    if (chunk->first) chunk->file = file;
    auto* out = std::copy(header.begin(), header.end(), chunk->ownBytes.begin());
    // Only a whole file gets its metadata: in one cut short, the chunk
    // would lie inside the audio its header declares.
    if (last && (!end || end->reason == RecordingEnd::Reason::complete)) {
        const auto trailer = plan_.trailer(file, fileDamage_);
        out = std::copy(trailer.begin(), trailer.end(), out);
    }
    chunk->data = std::span<const std::byte>(chunk->ownBytes.begin(), out);
    chunk->last = last;
    if (end) {
        chunk->endsRecording = true;
        chunk->end = *end;
    }
    return handOn(chunk);
}

bool BlockReader::handOn(Chunk* chunk) {
    return writeQueue_.push({chunk->recording, chunk}) && compressQueue_.push(chunk);
}

void BlockReader::dropBlock() {
    if (buffer_) buffer_->release();
    buffer_ = nullptr;
    bufferBlock_ = 0;
}

bool BlockReader::endsRecording(const output::PlannedFile& file) const {
    return file.payloadOffset + file.payloadBytes == table_.payloadBytes(file.recording);
}

}  // namespace quilbex::exporting
