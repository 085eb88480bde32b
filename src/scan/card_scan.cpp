#include "scan/card_scan.hpp"

#include <algorithm>
#include <climits>
#include <sstream>

#include "platform/aligned_buffer.hpp"
#include "platform/system_error.hpp"

namespace quilbex::scan {
namespace {

enum class WalkEnd { cardEnd, stopped };

// What became of a block's header sector.
enum class HeaderRead { read, unreadable, stop };

// Walk state that only the diagnostic log looks at.
struct Position {
    int32_t index = 0;
    int64_t offset = 0;
    int32_t previousIndex = 0;
    int64_t previousOffset = 0;
};

class Walk {
public:
    Walk(card::CardDevice& card, platform::Console& console, const platform::DiagnosticLog& log, ScanResult& result,
         const WalkOptions& options, uint32_t sectorSize)
        : card_(card),
          console_(console),
          log_(log),
          result_(result),
          stopSignal_(options.stopSignal),
          keepHeaderSectors_(options.keepHeaderSectors),
          sectorSize_(sectorSize) {
        if (options.rescue) rescue_.emplace(card.raw(), sectorSize);
    }

    WalkEnd run(int64_t blockCount, uint16_t& lastSequence);

private:
    WalkEnd walk(int64_t blockCount, uint16_t& lastSequence);
    bool seekTo(const Position& at);
    HeaderRead readHeader(const Position& at, std::span<std::byte> sector);
    void logRefusedSeek(const Position& at) const;
    void reportFailedSeek(const Position& at) const;
    void classify(const BlockHeader& header, int32_t index);
    bool opensAfterUnreadableStart(const BlockHeader& header, int32_t index);
    void noteForeign(int32_t index, uint32_t startTime);

    card::CardDevice& card_;
    platform::Console& console_;
    const platform::DiagnosticLog& log_;
    ScanResult& result_;
    const std::atomic<int>* stopSignal_;
    bool keepHeaderSectors_;
    uint32_t sectorSize_;
    std::optional<card::SectorRescue> rescue_;
    // Unreadable header sectors since the last block with the magic: they
    // lie in a recording only if a block with the magic follows.
    uint64_t unreadableSinceMagic_ = 0;
    // The unreadable bytes of the last block whose header sector could not
    // be read (the last of result_.unreadableHeaderBlocks).
    uint64_t unreadableBlockBytes_ = 0;
    // Of every header sector with the magic, in card order.
    platform::Sha256 headers_;
};

WalkEnd Walk::run(int64_t blockCount, uint16_t& lastSequence) {
    const WalkEnd end = walk(blockCount, lastSequence);
    result_.rescue.unreadableOutside += unreadableSinceMagic_;
    result_.headerDigest = headers_.finish();
    return end;
}

WalkEnd Walk::walk(int64_t blockCount, uint16_t& lastSequence) {
    platform::AlignedBuffer sector(sectorSize_, card_.raw().bufferAlignment());
    Position at;
    for (;;) {
        if (stopSignal_ && stopSignal_->load() != 0) {
            result_.interrupted = true;
            return WalkEnd::stopped;
        }
        at.offset = int64_t{at.index} * blockSize;
        if (!seekTo(at)) return WalkEnd::stopped;
        const HeaderRead header = readHeader(at, sector.span());
        if (header == HeaderRead::stop) return WalkEnd::stopped;
        if (keepHeaderSectors_)
            result_.headerSectorCrcs.push_back(header == HeaderRead::read ? std::optional(headerSectorCrc(sector.span()))
                                                                          : std::nullopt);
        if (header == HeaderRead::read) {
            const BlockHeader fields = decodeBlockHeader(sector.span());
            lastSequence = fields.sequenceNumber;
            if (fields.magic == blockMagic) headers_.add(sector.span());
            classify(fields, at.index);
        } else if (header == HeaderRead::unreadable) {
            result_.unreadableHeaderBlocks.push_back(at.index);
        }
        at.previousIndex = at.index;
        at.previousOffset = at.offset;
        ++at.index;
        if (at.index >= blockCount) return WalkEnd::cardEnd;
        if (result_.badBlockCount >= maxBlocksWithoutMagic) return WalkEnd::stopped;
    }
}

bool Walk::seekTo(const Position& at) {
    bool attempted = false;
    const int64_t position = card_.fileSeek(at.offset, attempted);
    if (!attempted) {
        logRefusedSeek(at);
        return false;
    }
    if (position == -1) {
        reportFailedSeek(at);
        return false;
    }
    return true;
}

// Without rescue a failed read stops the walk and is handed back.
HeaderRead Walk::readHeader(const Position& at, std::span<std::byte> sector) {
    const auto failure = card::readSectors(card_.raw(), sector);
    if (!failure) return HeaderRead::read;
    if (!rescue_) {
        result_.readFailure = failure;
        return HeaderRead::stop;
    }
    const card::AreaRescue rescued = rescue_->recover(at.index, at.offset, sector, *failure);
    result_.rescue.stop = rescued.stop;
    if (rescued.stop == card::RescueStop::cardGone) {
        result_.readFailure = rescued.lastFailure;
        return HeaderRead::stop;
    }
    unreadableSinceMagic_ += rescued.damage.unreadableBytes;
    if (rescued.stop != card::RescueStop::none) return HeaderRead::stop;
    if (!rescued.damage.any()) return HeaderRead::read;
    unreadableBlockBytes_ = rescued.damage.unreadableBytes;
    return HeaderRead::unreadable;
}

void Walk::classify(const BlockHeader& header, int32_t index) {
    if (header.magic != blockMagic) {
        ++result_.badBlockCount;
        result_.blocksWithoutMagic.push_back(index);
        return;
    }
    RecordingTable& table = result_.table;
    if (opensAfterUnreadableStart(header, index)) return;
    // Unreadable headers before this block lie in the recording it extends
    // or ends; before the first recording they lie in none.
    if (table.recordingCount == 0 && header.sequenceNumber == 0)
        result_.rescue.unreadableOutside += unreadableSinceMagic_;
    if (table.recordingCount > 0 || header.sequenceNumber == 0) unreadableSinceMagic_ = 0;
    if (header.sequenceNumber == 0) {
        table.open(index, header.startTime);
        return;
    }
    table.extendTo(index + 1);
    if (table.recordingCount > 0 && header.startTime != table.startTimes.back()) noteForeign(index, header.startTime);
}

void Walk::noteForeign(int32_t index, uint32_t startTime) {
    auto& runs = result_.foreignRuns;
    if (!runs.empty() && runs.back().end == index && runs.back().startTime == startTime)
        runs.back().end = index + 1;
    else
        runs.push_back({index, index + 1, startTime});
}

// A block that continues a recording from its first block, just after a
// block whose header sector could not be read: that block was the first. It
// opens the recording with this block's start time, which every block of a
// recording carries. Unreadable headers before it lie in the recording it
// ends, or before the first recording in none.
bool Walk::opensAfterUnreadableStart(const BlockHeader& header, int32_t index) {
    const auto& unreadable = result_.unreadableHeaderBlocks;
    if (header.sequenceNumber != 1 || unreadable.empty() || unreadable.back() != index - 1) return false;
    RecordingTable& table = result_.table;
    if (table.recordingCount == 0) result_.rescue.unreadableOutside += unreadableSinceMagic_ - unreadableBlockBytes_;
    unreadableSinceMagic_ = 0;
    table.open(index - 1, header.startTime);
    table.extendTo(index + 1);
    table.startsTakenFromNext.push_back(index - 1);
    return true;
}

void Walk::logRefusedSeek(const Position& at) const {
    std::ostringstream text;
    text << "Bad seek: \n sector_prev(" << at.previousIndex << ") " << "sector(" << at.index << ") \n"
         << "index_prev(" << at.previousOffset << ") \n" << "index(" << at.offset << ") \n"
         << "error_sec(" << result_.badBlockCount << ")\n";
    log_.write("readFileInfo", 242, text.str());
    const RecordingTable& table = result_.table;
    text << "Files found: " << table.recordingCount << "\n" << "Sectors Found: ";
    for (int32_t k = 0; k < table.recordingCount; ++k) text << table.firstBlock(k) << ", ";
    text << "\n";
    log_.write("readFileInfo", 252, text.str());
}

void Walk::reportFailedSeek(const Position& at) const {
    const platform::SystemError error = card_.lastError();
    console_.outLine("Internal error: " + std::to_string(error.code));
    platform::printSystemError(console_, error);
    std::ostringstream text;
    text << "Bad seek: sector(" << at.index << ") " << "index(" << at.offset << ") " << "error_sec("
         << result_.badBlockCount << ")";
    log_.write("readFileInfo", 264, text.str());
}

void warnTruncated(platform::Console& console, int32_t recordingCount, int64_t cardSize) {
    console.errLine("Scan error while processing file: " + std::to_string(recordingCount));
    console.errLine("Sector index exceeded maximum allowed while searching for file end.");
    console.errLine("Card size: " + std::to_string(cardSize / 1048576) + "MB");
    console.errLine("Possible truncated export.");
}

}  // namespace

ScanResult walkCard(card::CardDevice& card, platform::Console& console, const platform::DiagnosticLog& log,
                    uint32_t sectorSize, int64_t cardSize, const WalkOptions& options) {
    ScanResult result;
    result.sectorSize = sectorSize;
    // Too small a sector cannot hold the header fields: nothing to examine.
    if (sectorSize < blockHeaderFieldsSize) return result;
    uint16_t lastSequence = 0;
    // Block numbers are int32_t: a card of more blocks is walked that far.
    const int64_t blockCount = std::min<int64_t>(cardSize / blockSize, INT32_MAX);
    const WalkEnd end = Walk(card, console, log, result, options, sectorSize).run(blockCount, lastSequence);
    if (end == WalkEnd::cardEnd && lastSequence != 0)
        warnTruncated(console, result.table.recordingCount, cardSize);
    return result;
}

ScanResult readFileInfo(card::CardDevice& card, platform::Console& console, const platform::DiagnosticLog& log,
                        const std::string& drive, int64_t cardSize, const WalkOptions& options) {
    return walkCard(card, console, log, card::getBytesPerSector(console, drive), cardSize, options);
}

}  // namespace quilbex::scan
