#pragma once
// The export pass: every recording of the table, in order, as one WAV entry
// of a new zip archive.

#include <string>

#include "card/card_device.hpp"
#include "scan/recording_table.hpp"

namespace quilbex::exporting {

enum class ExportStatus {
    completed,   // every recording stored or skipped, archive closed
    addFailed,   // an entry could not be stored (messages printed)
    readFailed,  // a card read failed (messages printed); archive finished
};

struct ExportRequest {
    const scan::RecordingTable& table;
    card::CardDevice& card;
    std::string zipPath;
    bool verbose = false;
};

ExportStatus exportRecordings(const ExportRequest& request, platform::Console& console,
                              const platform::DiagnosticLog& log);

}  // namespace quilbex::exporting
