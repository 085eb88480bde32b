#pragma once
// The export pass: every file of the plan, in order, as one WAV file through
// the destination.

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "card/card_device.hpp"
#include "card/sector_reader.hpp"
#include "deflate/deflate_choice.hpp"
#include "export/progress_events.hpp"
#include "export/rescue_tally.hpp"
#include "output/destination.hpp"
#include "output/file_plan.hpp"
#include "output/zip_destination.hpp"
#include "scan/recording_table.hpp"

namespace quilbex::exporting {

enum class ExportStatus {
    completed,    // every file stored or skipped, destination closed
    addFailed,    // a file or the destination's end could not be stored (messages printed); destination closed
    readFailed,   // a card read failed (messages printed); destination closed
    interrupted,  // the stop signal ended the reading; destination closed, nothing printed
};

struct ExportRequest {
    const scan::RecordingTable& table;
    card::CardDevice& card;
    // Where the plan's files go, opened by the caller; false in
    // destinationOpen when it failed to (and said so): the export then goes
    // on, and storing the first file fails with its own message.
    output::Destination& destination;
    const output::FilePlan& plan;
    bool destinationOpen = true;
    bool verbose = false;  // a line for each damaged block the rescue met
    // Compressor threads, 1 to 64; the files and the output are the same
    // for every count.
    int threads = 1;
    // Once it points to a non-zero value, reading stops before the next
    // block; the recording being read is stored with what was read.
    const std::atomic<int>* stopSignal = nullptr;
    // Told of every file as it is read, and of a completed export; must be
    // set.
    ProgressEvents* progress = nullptr;
    // Go on past unreadable sectors of this size: see card/sector_rescue.hpp.
    bool rescue = false;
    uint32_t sectorSize = 0;
    // The archive's bytes depend on it; the output does not.
    deflate::DeflateMode deflate = deflate::DeflateMode::perChunk;
    // With the check (-c): the scan's CRC-32s of the blocks' first sectors
    // (scan::ScanResult::headerSectorCrcs), to compare each block's first
    // sector with as it is read again.
    const std::vector<std::optional<uint32_t>>* headerSectorCrcs = nullptr;
};

struct ExportResult {
    ExportStatus status = ExportStatus::completed;
    ExportRescue rescue;  // what the rescue met; nothing without it
    std::optional<card::ReadFailure> readFailure;  // the read that ended it, with readFailed
    uint64_t filesStored = 0;  // whole, not cut short where the reading stopped
    // The blocks whose first sector the card gave otherwise than to the scan,
    // in the order read; only with headerSectorCrcs.
    std::vector<int32_t> blocksReadOtherwise;
};

// Makes the new archive the export writes into. False, with the message on
// standard error, when it cannot: the export then still goes on, and storing
// its first file fails with its own message.
bool openArchive(output::ZipDestination& zip, const std::string& path, platform::Console& console);

ExportResult exportRecordings(const ExportRequest& request, platform::Console& console,
                              const platform::DiagnosticLog& log);

}  // namespace quilbex::exporting
