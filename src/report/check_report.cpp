#include "report/check_report.hpp"

namespace quilbex::report {

std::string allIdenticalText(uint64_t files, uint64_t bytesRead) {
    return platform::formatText("Checked: %llu files, %.1f GB read back from the disk, all identical",
                                static_cast<unsigned long long>(files), static_cast<double>(bytesRead) / 1e9);
}

std::string someDifferText(uint64_t differing, uint64_t files) {
    return "Checked: " + std::to_string(differing) + " of " + std::to_string(files) + " files differ";
}

const std::string_view mayBeFormattedText = "The card may be formatted.";

std::string blockReadTwiceText(int32_t block) {
    return "The card gave other bytes for block " + std::to_string(block) + " than when it was scanned";
}

int printCheckReport(platform::Console& console, const output::CheckTally& tally,
                     const std::vector<int32_t>& blocksReadTwice, int status) {
    console.endOutLine();
    for (const int32_t block : blocksReadTwice) console.errLine(blockReadTwiceText(block));
    for (const auto& line : tally.differing) console.errLine(line);
    if (!tally.differing.empty()) {
        console.errLine(someDifferText(tally.differing.size(), tally.files));
        return 1;
    }
    console.outLine(allIdenticalText(tally.files, tally.bytesRead));
    if (!blocksReadTwice.empty()) return 1;
    if (status == 0) console.outLine(mayBeFormattedText);
    return status;
}

}  // namespace quilbex::report
