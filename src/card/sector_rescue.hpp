#pragma once
// Reading on past unreadable sectors (option -r). When the read of an area of
// the card fails, the area is read again in halves, and every half that fails
// in halves again, down to single sectors: a lone bad sector in a 4 MiB block
// is found in a few dozen reads. Every sector that reads is kept; a sector
// that fails twice is zero-filled, so what follows it keeps its place.
//
// On a dying card one failed read can take seconds, so the work is bounded:
// an area gets at most maxFailedReadsPerArea failed reads (the rest of it is
// then zero-filled), and the rescue stops when a read says the card is gone
// or when maxDeadBlocksInARow consecutive blocks gave not one readable sector.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "card/sector_reader.hpp"
#include "platform/aligned_buffer.hpp"
#include "platform/raw_device.hpp"

namespace quilbex::card {

inline constexpr int maxFailedReadsPerArea = 64;
inline constexpr int triesPerSector = 2;
inline constexpr int32_t maxDeadBlocksInARow = 16;

// Why the rescue stopped before the work was done.
enum class RescueStop {
    none,
    cardGone,     // a read failed with a code that says the card is gone
    deadRun,      // maxDeadBlocksInARow blocks in a row without a readable sector
    interrupted,  // the stop signal came between two reads
};

// The sectors of one area that could not be read, all zero-filled.
struct AreaDamage {
    uint64_t unreadableBytes = 0;   // whole sectors
    uint32_t places = 0;            // runs of adjacent unreadable sectors
    bool startsUnreadable = false;  // the area's first sector is unreadable
    bool endsUnreadable = false;    // and its last
    // The places, in order: their offset in the area and their length.
    std::vector<std::pair<size_t, size_t>> runs;

    bool any() const { return unreadableBytes != 0; }

    // The damage of [from, to) of the area alone.
    AreaDamage within(size_t from, size_t to) const;
};

struct AreaRescue {
    AreaDamage damage;
    // Not none: the rescue is over; after cardGone and interrupted the area
    // is unfinished.
    RescueStop stop = RescueStop::none;
    ReadFailure lastFailure;  // the last failed read, reported when the rescue stops
};

// One rescue over a pass of the card (the scan, or the export). Not for
// concurrent use.
class SectorRescue {
public:
    // A non-zero stop signal ends the rescue before its next read.
    SectorRescue(platform::RawDevice& device, uint32_t sectorSize, const std::atomic<int>* stopSignal = nullptr);

    // Reads again the area of card block `block` that starts at the card
    // offset `offset` and whose whole read just failed with `failure`. The
    // area is aligned for the device and a whole number of sectors. On return
    // it holds every sector that could be read, bit order restored, and zeros
    // for the others.
    AreaRescue recover(int32_t block, int64_t offset, std::span<std::byte> area, const ReadFailure& failure);

private:
    // Counts the block toward a dead run, or ends the run.
    bool endsDeadRun(int32_t block, bool anyRead);
    std::span<std::byte> bounce();

    platform::RawDevice& device_;
    uint32_t sectorSize_;
    const std::atomic<int>* stopSignal_;
    // For pieces whose place in the area is not aligned for the device.
    std::optional<platform::AlignedBuffer> bounce_;
    // The blocks of the current dead run, the last of them lastDeadBlock_.
    int32_t deadBlocks_ = 0;
    std::optional<int32_t> lastDeadBlock_;
};

}  // namespace quilbex::card
