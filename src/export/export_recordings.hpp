#pragma once
// The export pass: every recording of the table, in order, as one WAV entry
// of a new zip archive.

#include <atomic>
#include <string>

#include "card/card_device.hpp"
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
};

ExportStatus exportRecordings(const ExportRequest& request, platform::Console& console,
                              const platform::DiagnosticLog& log);

}  // namespace quilbex::exporting
