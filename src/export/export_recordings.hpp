#pragma once
// The export pass: every recording of the table, in order, as one WAV entry
// of a new zip archive.

#include <atomic>
#include <optional>
#include <string>

#include "card/card_device.hpp"
#include "export/deflate_choice.hpp"
#include "export/progress.hpp"
#include "export/rescue_report.hpp"
#include "scan/recording_table.hpp"

namespace quilbex::exporting {

enum class ExportStatus {
    completed,    // every recording stored or skipped, archive closed
    addFailed,    // an entry or the archive's end could not be stored (messages printed); archive closed
    readFailed,   // a card read failed (messages printed); archive finished
    interrupted,  // the stop signal ended the reading; archive finished, nothing printed
};

struct ExportRequest {
    const scan::RecordingTable& table;
    card::CardDevice& card;
    std::string zipPath;
    bool verbose = false;
    // Compressor threads, 1 to 64; the archive and the output are the same
    // for every count.
    int threads = 1;
    // Once it points to a non-zero value, reading stops before the next
    // block; the recording being read is stored with what was read.
    const std::atomic<int>* stopSignal = nullptr;
    // Set when standard output is a terminal and not verbose: the progress
    // line then shows bytes, rate and time left, and a summary ends a
    // completed export.
    std::optional<Terminal> terminal = std::nullopt;
    // Go on past unreadable sectors of this size: see card/sector_rescue.hpp.
    bool rescue = false;
    uint32_t sectorSize = 0;
    // The archive's bytes depend on it; the output does not.
    DeflateMode deflate = DeflateMode::perChunk;
};

struct ExportResult {
    ExportStatus status = ExportStatus::completed;
    ExportRescue rescue;  // what the rescue met; nothing without it
};

ExportResult exportRecordings(const ExportRequest& request, platform::Console& console,
                              const platform::DiagnosticLog& log);

}  // namespace quilbex::exporting
