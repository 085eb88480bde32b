#pragma once
// What the rescue (option -r) tells the user at the end: one line per file
// (a recording, or a piece of one) with unreadable sectors and a summary, on
// standard error.

#include <cstdint>
#include <string>
#include <vector>

#include "card/sector_rescue.hpp"
#include "export/rescue_tally.hpp"
#include "platform/console.hpp"

namespace quilbex::report {

// The whole run as the final report sees it.
struct RescueSummary {
    int32_t found = 0;
    exporting::ExportRescue exported;
    uint64_t unreadableOutside = 0;  // header sectors the scan could not read, in no recording
    card::RescueStop stop = card::RescueStop::none;
    // Cut into pieces (-s): the count of those stored whole then says
    // "recordings", as the files are more.
    bool piecesCut = false;

    // Whether any sector stayed unreadable: the run then ends with status 1.
    bool anyUnreadable() const;
};

// One line per damaged recording, then the summary, without their newlines.
std::vector<std::string> rescueReportLines(const RescueSummary& summary);
// The same lines on standard error.
void printRescueReport(platform::Console& console, const RescueSummary& summary);

}  // namespace quilbex::report
