#pragma once
// The walk over the card that finds the recordings.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "card/card_device.hpp"
#include "card/sector_reader.hpp"
#include "card/sector_rescue.hpp"
#include "platform/sha256.hpp"
#include "scan/recording_table.hpp"

namespace quilbex::scan {

// What a walk that goes on past unreadable header sectors met.
struct ScanRescue {
    // Unreadable header sectors of blocks that lie in no recording found.
    uint64_t unreadableOutside = 0;
    card::RescueStop stop = card::RescueStop::none;
};

// Blocks [first, end) that continue a recording but carry another start
// time, the same in each: the recorder wrote them for an older recording, on
// a card reused without erasing.
struct ForeignRun {
    int32_t first = 0;
    int32_t end = 0;
    uint32_t startTime = 0;  // MS-DOS, as their headers have it
};

struct ScanResult {
    RecordingTable table;
    int32_t badBlockCount = 0;
    uint32_t sectorSize = 0;  // as the drive reports it
    // Set when a card read failed; its messages are the caller's to print.
    std::optional<card::ReadFailure> readFailure;
    // Set when the walk stopped because the stop signal was raised.
    bool interrupted = false;
    ScanRescue rescue;
    // Ascending block numbers of the blocks read without the magic, and of
    // those whose header sector could not be read (with rescue): inside a
    // recording's bounds they lie in it. Neither outgrows the walk's limits.
    std::vector<int32_t> blocksWithoutMagic;
    std::vector<int32_t> unreadableHeaderBlocks;
    // Ascending and apart: the blocks with the magic after a recording's
    // first whose start time is not the recording's. They lie in the
    // recording all the same; the export keeps them, the listing names them.
    std::vector<ForeignRun> foreignRuns;
    // With WalkOptions::keepHeaderSectors: the CRC-32 of the first sector of
    // block k as read, for each block walked; none for a sector not read
    // whole. Four bytes and a flag a block, at most the walk's limit of them.
    std::vector<std::optional<uint32_t>> headerSectorCrcs;
    // SHA-256 of the header sectors with the magic, in card order: beside
    // the fields, each holds sound, noise that no other card repeats, so it
    // tells this card's recordings from another's of the same times.
    platform::Sha256Digest headerDigest{};
};

struct WalkOptions {
    // A non-zero value ends the walk before the next block.
    const std::atomic<int>* stopSignal = nullptr;
    // Go on past unreadable header sectors.
    bool rescue = false;
    // Keep the CRC-32 of every header sector read, so that the export can
    // tell whether the card gives the same bytes a second time.
    bool keepHeaderSectors = false;
};

// Walks a card whose sectors are sectorSize bytes: see readFileInfo.
ScanResult walkCard(card::CardDevice& card, platform::Console& console, const platform::DiagnosticLog& log,
                    uint32_t sectorSize, int64_t cardSize, const WalkOptions& options = {});

// Asks the drive its sector size, then walks the card from block 0, one
// sector per block, until the end of the card or the fifth block without the
// magic. A failed seek ends the walk with what was found (after its
// messages); a failed read ends it and is handed back.
//
// With rescue, a header sector that cannot be read makes its block one
// without the magic that does not count toward the fifth: it belongs to the
// recording before it when a block with the magic follows, unless the next
// block continues a recording from its first block (sequence number 1): then
// it is that first block, and opens the recording with the next block's start
// time (see RecordingTable::startsTakenFromNext). The walk then also ends
// after maxDeadBlocksInARow unreadable headers in a row (keeping what it
// found), and when a read says the card is gone (handed back as a failed
// read).
ScanResult readFileInfo(card::CardDevice& card, platform::Console& console, const platform::DiagnosticLog& log,
                        const std::string& drive, int64_t cardSize, const WalkOptions& options = {});

}  // namespace quilbex::scan
