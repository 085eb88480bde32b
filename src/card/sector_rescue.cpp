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

// The halving walk over one area. Pieces are taken lowest first, so the
// zero-filled ones come in card order and adjacent ones join into a place.
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
        pending_.push_back({0, area.size(), 1});
    }

    // The damage; stop is cardGone when a read said the card is gone, and
    // interrupted when the stop signal came.
    AreaRescue run();
    bool anyRead() const { return anyRead_; }

private:
    bool aligned(size_t start) const;
    bool readableInOneGo(const Piece& piece) const;
    void split(const Piece& piece);
    void zeroFill(const Piece& piece);
    std::optional<ReadFailure> read(const Piece& piece);

    platform::RawDevice& device_;
    uint32_t sectorSize_;
    std::span<std::byte> bounce_;
    const std::atomic<int>* stopSignal_;
    int64_t offset_;
    std::span<std::byte> area_;
    // Lowest piece last; never deeper than the halvings of a block.
    std::vector<Piece> pending_;
    AreaRescue result_;
    int failedReads_ = 1;  // the read of the whole area
    bool anyRead_ = false;
    size_t lastUnreadableEnd_ = 0;
};

AreaRescue AreaWalk::run() {
    if (platform::meansCardGone(result_.lastFailure.errorCode)) {
        result_.stop = RescueStop::cardGone;
        return result_;
    }
    while (!pending_.empty()) {
        const Piece piece = pending_.back();
        pending_.pop_back();
        if (failedReads_ >= maxFailedReadsPerArea) {
            zeroFill(piece);
        } else if ((piece.failures > 0 && piece.length > sectorSize_) || !readableInOneGo(piece)) {
            split(piece);
        } else if (piece.failures >= triesPerSector) {
            zeroFill(piece);
        } else if (stopSignal_ && stopSignal_->load() != 0) {
            result_.stop = RescueStop::interrupted;
            return result_;
        } else if (const auto failure = read(piece)) {
            ++failedReads_;
            result_.lastFailure = *failure;
            if (platform::meansCardGone(failure->errorCode)) {
                result_.stop = RescueStop::cardGone;
                return result_;
            }
            pending_.push_back({piece.start, piece.length, piece.failures + 1});
        } else {
            anyRead_ = true;
        }
    }
    return result_;
}

bool AreaWalk::aligned(size_t start) const {
    return reinterpret_cast<uintptr_t>(area_.data() + start) % device_.bufferAlignment() == 0;
}

// In place when the piece's start is aligned for the device, else through
// the bounce buffer when it fits there.
bool AreaWalk::readableInOneGo(const Piece& piece) const {
    return aligned(piece.start) || piece.length <= bounce_.size();
}

// Halves on a sector boundary; the lower half is taken next. Only pieces of
// two sectors or more are split.
void AreaWalk::split(const Piece& piece) {
    const size_t sectors = (piece.length + sectorSize_ - 1) / sectorSize_;
    const size_t lower = sectors / 2 * sectorSize_;
    pending_.push_back({piece.start + lower, piece.length - lower, 0});
    pending_.push_back({piece.start, lower, 0});
}

void AreaWalk::zeroFill(const Piece& piece) {
    std::memset(area_.data() + piece.start, 0, piece.length);
    AreaDamage& damage = result_.damage;
    if (!damage.any() || lastUnreadableEnd_ != piece.start) {
        ++damage.places;
        damage.runs.emplace_back(piece.start, 0);
    }
    damage.runs.back().second += piece.length;
    damage.unreadableBytes += piece.length;
    damage.startsUnreadable = damage.startsUnreadable || piece.start == 0;
    lastUnreadableEnd_ = piece.start + piece.length;
    damage.endsUnreadable = lastUnreadableEnd_ == area_.size();
}

std::optional<ReadFailure> AreaWalk::read(const Piece& piece) {
    const auto seek = device_.seek(offset_ + static_cast<int64_t>(piece.start));
    if (seek.position < 0) return ReadFailure{0, seek.errorCode};
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

// One sector, or one alignment unit if that is more. As pieces are halvings
// of an aligned area, those that are not aligned are smaller than that; any
// other is split before it is read.
std::span<std::byte> SectorRescue::bounce() {
    if (!bounce_) {
        const size_t alignment = device_.bufferAlignment();
        bounce_.emplace(std::max<size_t>(sectorSize_, alignment), alignment);
    }
    return bounce_->span();
}

}  // namespace quilbex::card
