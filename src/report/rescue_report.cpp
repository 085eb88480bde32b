#include "report/rescue_report.hpp"

#include <string>
#include <vector>

namespace quilbex::report {
namespace {

std::string stopReason(card::RescueStop stop) {
    switch (stop) {
    case card::RescueStop::cardGone:
        return "the card is gone";
    case card::RescueStop::deadRun:
        return std::to_string(card::maxDeadBlocksInARow) + " blocks in a row unreadable";
    case card::RescueStop::interrupted:
        return "interrupted";
    case card::RescueStop::none:
        break;
    }
    return {};
}

std::string summaryLine(const RescueSummary& summary) {
    uint64_t zeroFilled = 0;
    for (const auto& recording : summary.exported.damaged) zeroFilled += recording.unreadableBytes;
    std::string line = "Rescue: " + std::to_string(summary.exported.storedWhole) + " of " +
                       std::to_string(summary.found) + (summary.piecesCut ? " recordings" : " files") +
                       " exported; " + std::to_string(zeroFilled) +
                       " unreadable bytes zero-filled";
    if (summary.unreadableOutside != 0)
        line += "; " + std::to_string(summary.unreadableOutside) + " unreadable bytes outside the files";
    if (summary.stop != card::RescueStop::none) line += "; stopped early: " + stopReason(summary.stop);
    return line;
}

}  // namespace

bool RescueSummary::anyUnreadable() const { return unreadableOutside != 0 || !exported.damaged.empty(); }

std::vector<std::string> rescueReportLines(const RescueSummary& summary) {
    std::vector<std::string> lines;
    for (const auto& file : summary.exported.damaged)
        lines.push_back("Damaged file: " + file.name + ", " +
                        exporting::unreadableText(file.unreadableBytes, file.places));
    lines.push_back(summaryLine(summary));
    return lines;
}

void printRescueReport(platform::Console& console, const RescueSummary& summary) {
    for (const std::string& line : rescueReportLines(summary)) console.errLine(line);
}

}  // namespace quilbex::report
