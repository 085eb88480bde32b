#include "scan/card_scan.hpp"

#include <sstream>

#include "platform/aligned_buffer.hpp"
#include "platform/system_error.hpp"

namespace quilbex::scan {
namespace {

enum class WalkEnd { cardEnd, stopped };

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
         const std::atomic<int>* stopSignal)
        : card_(card), console_(console), log_(log), result_(result), stopSignal_(stopSignal) {}

    WalkEnd run(int64_t blockCount, uint32_t sectorSize, uint16_t& lastSequence);

private:
    bool seekTo(const Position& at);
    void logRefusedSeek(const Position& at) const;
    void reportFailedSeek(const Position& at) const;
    void classify(const BlockHeader& header, int32_t index);

    card::CardDevice& card_;
    platform::Console& console_;
    const platform::DiagnosticLog& log_;
    ScanResult& result_;
    const std::atomic<int>* stopSignal_;
};

WalkEnd Walk::run(int64_t blockCount, uint32_t sectorSize, uint16_t& lastSequence) {
    platform::AlignedBuffer sector(sectorSize, card_.raw().bufferAlignment());
    Position at;
    for (;;) {
        if (stopSignal_ && stopSignal_->load() != 0) {
            result_.interrupted = true;
            return WalkEnd::stopped;
        }
        at.offset = int64_t{at.index} * blockSize;
        if (!seekTo(at)) return WalkEnd::stopped;
        if (auto failure = card::readSectors(card_.raw(), sector.span())) {
            result_.readFailure = failure;
            return WalkEnd::stopped;
        }
        const BlockHeader header = decodeBlockHeader(sector.span());
        lastSequence = header.sequenceNumber;
        classify(header, at.index);
        at.previousIndex = at.index;
        at.previousOffset = at.offset;
        ++at.index;
        if (at.index >= blockCount) return WalkEnd::cardEnd;
        if (at.index >= maxBlocks || result_.badBlockCount >= 5) return WalkEnd::stopped;
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

void Walk::classify(const BlockHeader& header, int32_t index) {
    if (header.magic != blockMagic) {
        ++result_.badBlockCount;
        return;
    }
    RecordingTable& table = result_.table;
    if (header.sequenceNumber == 0) {
        if (table.recordingCount < RecordingTable::capacity) {
            table.blockBounds[static_cast<size_t>(table.recordingCount)] = index;
            table.startTimes[static_cast<size_t>(table.recordingCount)] = header.startTime;
        }
        ++table.recordingCount;
    }
    // The running end of the last recording; the table has room for the end
    // of a full table's last recording too.
    if (table.recordingCount <= RecordingTable::capacity)
        table.blockBounds[static_cast<size_t>(table.recordingCount)] = index + 1;
}

void Walk::logRefusedSeek(const Position& at) const {
    std::ostringstream text;
    text << "Bad seek: \n sector_prev(" << at.previousIndex << ") " << "sector(" << at.index << ") \n"
         << "index_prev(" << at.previousOffset << ") \n" << "index(" << at.offset << ") \n"
         << "error_sec(" << result_.badBlockCount << ")\n";
    log_.write("readFileInfo", 242, text.str());
    const RecordingTable& table = result_.table;
    text << "Files found: " << table.recordingCount << "\n" << "Sectors Found: ";
    for (int32_t k = 0; k < table.recordingCount && k < RecordingTable::capacity; ++k)
        text << table.firstBlock(k) << ", ";
    text << "\n";
    log_.write("readFileInfo", 252, text.str());
}

void Walk::reportFailedSeek(const Position& at) const {
    const int code = card_.lastErrorCode();
    console_.outLine("Internal error: " + std::to_string(code));
    platform::printSystemError(console_, code);
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
                    uint32_t sectorSize, int64_t cardSize, const std::atomic<int>* stopSignal) {
    ScanResult result;
    // Too small a sector cannot hold the header fields: nothing to examine.
    if (sectorSize < blockHeaderFieldsSize) return result;
    uint16_t lastSequence = 0;
    const WalkEnd end = Walk(card, console, log, result, stopSignal).run(cardSize / blockSize, sectorSize, lastSequence);
    if (end == WalkEnd::cardEnd && lastSequence != 0)
        warnTruncated(console, result.table.recordingCount, cardSize);
    return result;
}

ScanResult readFileInfo(card::CardDevice& card, platform::Console& console, const platform::DiagnosticLog& log,
                        const std::string& drive, int64_t cardSize, const std::atomic<int>* stopSignal) {
    return walkCard(card, console, log, card::getBytesPerSector(console, drive), cardSize, stopSignal);
}

}  // namespace quilbex::scan
