#pragma once
// The closing lines of the check (-c): what did not match, then the count of
// the files read back and, only when the whole run succeeded, that the card
// may be formatted.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "output/check_tally.hpp"
#include "platform/console.hpp"

namespace quilbex::report {

// "Checked: 3 files, 0.1 GB read back from the disk, all identical"
std::string allIdenticalText(uint64_t files, uint64_t bytesRead);
// "Checked: 1 of 3 files differ"
std::string someDifferText(uint64_t differing, uint64_t files);
extern const std::string_view mayBeFormattedText;
// The line for a block whose first sector the card returned otherwise in
// the export than in the scan.
std::string blockReadTwiceText(int32_t block);

// Prints the lines of what differed and the count of them (standard error),
// or the count of the files that all matched (standard output) followed,
// only when nothing else failed (`status` 0), by the line that the card may
// be formatted. Returns the run's status: `status`, or 1 when anything
// differed.
int printCheckReport(platform::Console& console, const output::CheckTally& tally,
                     const std::vector<int32_t>& blocksReadTwice, int status);

}  // namespace quilbex::report
