#pragma once
// What -l prints of a scanned card on standard output: a table of the files an
// export with the same options would write, a line for each anomaly, and a
// summary line. Columns are two spaces or more apart, so that awk splits them.

#include <string>

#include "output/file_plan.hpp"
#include "scan/card_scan.hpp"

namespace quilbex::report {

struct CardListing {
    std::string text;  // every line ends in '\n'
};

// The plan is of the scan's table.
CardListing listCard(const scan::ScanResult& scan, const output::FilePlan& plan);

}  // namespace quilbex::report
