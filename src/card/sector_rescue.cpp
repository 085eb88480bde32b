#include "card/sector_rescue.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

namespace quilbex::card {
namespace {

// A stretch of the area still to be read, and how often it failed so far.
struct Piece {
    size_t start = 0;
    size_t length = 0;
    int failures = 0;
};

// The stretches of the area that were zero-filled, in the order they failed.
struct Stretch {
    size_t start = 0;
    size_t end = 0;
    friend bool operator<(const Stretch& a, const Stretch& b) { return a.start < b.start; }
};

// The walk over one area, a round per piece size: every failed piece of a
// round is split into the next smaller size (the area into 64 KiB pieces, a
// 64 KiB piece into 4 KiB, a 4 KiB piece into sectors) and its pieces are
// read before the next failed piece is split; a failed sector is tried once
// more in a round of its own. So a lone bad sector costs five failed reads,
// every sector of a sparse bad spot is tried before any is tried twice, and
// a dead stretch uses up the area's failed reads on few pieces.
class AreaWalk {
public:
    AreaWalk(platform::RawDevice& device, uint32_t sectorSize, std::span<std::byte> bounce,
             const std::atomic<int>* stopSignal, int64_t offset, std::span<std::byte> area, const ReadFailure& failure)
        : device_(device),
          sectorSize_(sectorSize),
          bounce_(bounce),
          stopSignal_(stopSignal),
          offset_(offset),
          area_(area) {
        result_.lastFailure = failure;
    }

    // The damage; stop is cardGone when a read said the card is gone, and
    // interrupted when the stop signal came.
    AreaRescue run();
    bool anyRead() const { return anyRead_; }

private:
    void rescue(const Piece& failed, std::vector<Piece>& failedNext);
    void readPiece(const Piece& piece, std::vector<Piece>& failedNext);
    bool aligned(size_t start) const;
    bool readableInOneGo(const Piece& piece) const;
    std::vector<Piece> split(const Piece& piece) const;
    void zeroFill(const Piece& piece);
    void tallyDamage();
    std::optional<ReadFailure> read(const Piece& piece);

    platform::RawDevice& device_;
    uint32_t sectorSize_;
    std::span<std::byte> bounce_;
    const std::atomic<int>* stopSignal_;
    int64_t offset_;
    std::span<std::byte> area_;
    // Never more than the area has sectors.
    std::vector<Stretch> zeroFilled_;
    AreaRescue result_;
    int failedReads_ = 1;  // the read of the whole area
    bool anyRead_ = false;
};

AreaRescue AreaWalk::run() {
    if (platform::meansCardGone(result_.lastFailure.error)) {
        result_.stop = RescueStop::cardGone;
        return result_;
    }
    // The failed pieces of the round, in card order.
    std::vector<Piece> failed = {{0, area_.size(), 1}};
    while (!failed.empty()) {
        std::vector<Piece> failedNext;
        for (const Piece& piece : failed) {
            rescue(piece, failedNext);
            if (result_.stop != RescueStop::none) return result_;
        }
        failed = std::move(failedNext);
    }
    tallyDamage();
    return result_;
}

// Once the area had its failed reads nothing is split or tried again: a
// failed piece is zero-filled. But a piece split before that is read whole,
// so only what failed its own read is zero-filled.
void AreaWalk::rescue(const Piece& failed, std::vector<Piece>& failedNext) {
    if (failedReads_ >= maxFailedReadsPerArea || (failed.length <= sectorSize_ && failed.failures >= triesPerSector)) {
        zeroFill(failed);
    } else if (failed.length <= sectorSize_) {
        readPiece(failed, failedNext);
    } else {
        for (const Piece& piece : split(failed)) {
            readPiece(piece, failedNext);
            if (result_.stop != RescueStop::none) return;
        }
    }
}

// A piece that cannot be read in one go is read as its pieces, which do not
// count as failed.
void AreaWalk::readPiece(const Piece& piece, std::vector<Piece>& failedNext) {
    if (!readableInOneGo(piece)) {
        for (const Piece& smaller : split(piece)) {
            readPiece(smaller, failedNext);
            if (result_.stop != RescueStop::none) return;
        }
    } else if (stopSignal_ && stopSignal_->load() != 0) {
        result_.stop = RescueStop::interrupted;
    } else if (const auto failure = read(piece)) {
        ++failedReads_;
        result_.lastFailure = *failure;
        if (platform::meansCardGone(failure->error)) result_.stop = RescueStop::cardGone;
        failedNext.push_back({piece.start, piece.length, piece.failures + 1});
    } else {
        anyRead_ = true;
    }
}

bool AreaWalk::aligned(size_t start) const {
    return reinterpret_cast<uintptr_t>(area_.data() + start) % device_.bufferAlignment() == 0;
}

// In place when the piece's start is aligned for the device, else through
// the bounce buffer when it fits there.
bool AreaWalk::readableInOneGo(const Piece& piece) const {
    return aligned(piece.start) || piece.length <= bounce_.size();
}

// Into pieces of the next smaller size that is a whole number of sectors,
// the last one shorter if the piece is not a multiple of it.
std::vector<Piece> AreaWalk::split(const Piece& piece) const {
    size_t size = sectorSize_;
    for (const size_t wide : splitSizes)
        if (wide < piece.length && wide > sectorSize_ && wide % sectorSize_ == 0) {
            size = wide;
            break;
        }
    std::vector<Piece> pieces;
    for (size_t at = 0; at < piece.length; at += size)
        pieces.push_back({piece.start + at, std::min(size, piece.length - at), 0});
    return pieces;
}

void AreaWalk::zeroFill(const Piece& piece) {
    std::memset(area_.data() + piece.start, 0, piece.length);
    zeroFilled_.push_back({piece.start, piece.start + piece.length});
}

// The zero-filled stretches in card order; adjacent ones are one place.
void AreaWalk::tallyDamage() {
    std::sort(zeroFilled_.begin(), zeroFilled_.end());
    AreaDamage& damage = result_.damage;
    size_t lastEnd = 0;
    for (const Stretch& stretch : zeroFilled_) {
        if (!damage.any() || lastEnd != stretch.start) {
            ++damage.places;
            damage.runs.emplace_back(stretch.start, 0);
        }
        damage.runs.back().second += stretch.end - stretch.start;
        damage.unreadableBytes += stretch.end - stretch.start;
        lastEnd = stretch.end;
    }
    damage.startsUnreadable = !zeroFilled_.empty() && zeroFilled_.front().start == 0;
    damage.endsUnreadable = !zeroFilled_.empty() && lastEnd == area_.size();
}

std::optional<ReadFailure> AreaWalk::read(const Piece& piece) {
    const auto seek = device_.seek(offset_ + static_cast<int64_t>(piece.start));
    if (seek.position < 0) return ReadFailure{0, seek.error};
    const std::span<std::byte> target = area_.subspan(piece.start, piece.length);
    if (aligned(piece.start)) return readSectors(device_, target);
    const std::span<std::byte> staged = bounce_.first(piece.length);
    if (auto failure = readSectors(device_, staged)) return failure;
    std::memcpy(target.data(), staged.data(), staged.size());
    return std::nullopt;
}

}  // namespace

AreaDamage AreaDamage::within(size_t from, size_t to) const {
    AreaDamage part;
    for (const auto& [start, length] : runs) {
        const size_t low = std::max(start, from);
        const size_t high = std::min(start + length, to);
        if (low >= high) continue;
        part.runs.emplace_back(low, high - low);
        part.unreadableBytes += high - low;
        ++part.places;
        part.startsUnreadable = part.startsUnreadable || low == from;
        part.endsUnreadable = high == to;
    }
    return part;
}

SectorRescue::SectorRescue(platform::RawDevice& device, uint32_t sectorSize, const std::atomic<int>* stopSignal)
    : device_(device), sectorSize_(std::max<uint32_t>(sectorSize, 1)), stopSignal_(stopSignal) {}

AreaRescue SectorRescue::recover(int32_t block, int64_t offset, std::span<std::byte> area,
                                 const ReadFailure& failure) {
    AreaWalk walk(device_, sectorSize_, bounce(), stopSignal_, offset, area, failure);
    AreaRescue result = walk.run();
    if (result.stop == RescueStop::none && endsDeadRun(block, walk.anyRead())) result.stop = RescueStop::deadRun;
    return result;
}

bool SectorRescue::endsDeadRun(int32_t block, bool anyRead) {
    if (anyRead) {
        deadBlocks_ = 0;
        lastDeadBlock_.reset();
        return false;
    }
    deadBlocks_ = lastDeadBlock_ && *lastDeadBlock_ + 1 == block ? deadBlocks_ + 1 : 1;
    lastDeadBlock_ = block;
    return deadBlocks_ >= maxDeadBlocksInARow;
}

// One sector, or one alignment unit if that is more. Pieces start at
// multiples of their size in an aligned area, so those that are not aligned
// are smaller than that; any other is split before it is read.
std::span<std::byte> SectorRescue::bounce() {
    if (!bounce_) {
        const size_t alignment = device_.bufferAlignment();
        bounce_.emplace(std::max<size_t>(sectorSize_, alignment), alignment);
    }
    return bounce_->span();
}

}  // namespace quilbex::card
