#pragma once
// What in a scanned card a field team must know before trusting its
// recordings: clocks set back, starts that repeat or are no date, and blocks
// that are damaged or could not be read.

#include <string>
#include <vector>

#include "scan/card_scan.hpp"

namespace quilbex::report {

struct CardAnomalies {
    // One line each, without its newline, in the order of the recordings.
    std::vector<std::string> lines;
};

CardAnomalies findAnomalies(const scan::ScanResult& scan);

}  // namespace quilbex::report
