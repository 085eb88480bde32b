#pragma once
// The walk over the card that finds the recordings.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "card/card_device.hpp"
#include "card/sector_reader.hpp"
#include "scan/recording_table.hpp"

namespace quilbex::scan {

struct ScanResult {
    RecordingTable table;
    int32_t badBlockCount = 0;
    // Set when a card read failed; its messages are the caller's to print.
    std::optional<card::ReadFailure> readFailure;
    // Set when the walk stopped because the stop signal was raised.
    bool interrupted = false;
};

// Walks a card whose sectors are sectorSize bytes: see readFileInfo.
ScanResult walkCard(card::CardDevice& card, platform::Console& console, const platform::DiagnosticLog& log,
                    uint32_t sectorSize, int64_t cardSize, const std::atomic<int>* stopSignal = nullptr);

// Asks the drive its sector size, then walks the card from block 0, one sector per block, until the end of the
// card, the block limit or the fifth block without the magic. A failed seek
// ends the walk with what was found (after its messages); a failed read ends
// it and is handed back. A non-zero stop signal ends the walk before the next
// block.
ScanResult readFileInfo(card::CardDevice& card, platform::Console& console, const platform::DiagnosticLog& log,
                        const std::string& drive, int64_t cardSize, const std::atomic<int>* stopSignal = nullptr);

}  // namespace quilbex::scan
