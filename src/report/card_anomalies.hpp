#pragma once
// What in a scanned card a field team must know before trusting its
// recordings: clocks set back, starts that repeat or are no date, and blocks
// that are damaged or could not be read.

#include <cstdint>
#include <string>
#include <vector>

#include "scan/card_scan.hpp"

namespace quilbex::report {

enum class AnomalyKind {
    clockSetBack,  // overlaps the recording before, or repeats an earlier start
    invalidStart,
    damage,  // blocks without the magic or with an unreadable header sector
};

struct Anomaly {
    int32_t recording = -1;  // -1: in no recording
    AnomalyKind kind = AnomalyKind::damage;
    std::string line;  // as the listing prints it, without its newline
};

struct CardAnomalies {
    std::vector<Anomaly> found;  // in the order of the recordings
};

CardAnomalies findAnomalies(const scan::ScanResult& scan);

}  // namespace quilbex::report
