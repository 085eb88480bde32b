#pragma once
// What -l prints of a scanned card on standard output: a table of the files an
// export would write, a line for each anomaly, and a summary line. Columns
// are two spaces or more apart, so that awk splits them.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/dos_time.hpp"
#include "scan/card_scan.hpp"

namespace quilbex::app {

// One row of the table: a file an export would write.
struct ListedFile {
    int32_t recording = 0;  // the recording it holds sound of, in card order
    std::string name;
    platform::CalendarTime start;  // may be no valid date
    uint64_t payloadBytes = 0;
    uint64_t fileBytes = 0;  // the whole WAV file's
};

// Each recording of the table as one file, as an export writes it.
std::vector<ListedFile> wholeRecordings(const scan::RecordingTable& table);

struct CardListing {
    std::string text;  // every line ends in '\n'
    bool unreadable = false;  // a header sector could not be read: the run fails
};

CardListing listCard(const scan::ScanResult& scan, const std::vector<ListedFile>& files);

}  // namespace quilbex::app
