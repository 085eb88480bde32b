#include "export/rescue_report.hpp"

#include <algorithm>
#include <string>

namespace quilbex::exporting {
namespace {

std::string places(uint32_t count) { return std::to_string(count) + (count == 1 ? " place" : " places"); }

std::string unreadable(uint64_t bytes, uint32_t count) {
    return std::to_string(bytes) + " unreadable bytes in " + places(count);
}

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
                       std::to_string(summary.found) + " files exported; " + std::to_string(zeroFilled) +
                       " unreadable bytes zero-filled";
    if (summary.unreadableOutside != 0)
        line += "; " + std::to_string(summary.unreadableOutside) + " unreadable bytes outside the files";
    if (summary.stop != card::RescueStop::none) line += "; stopped early: " + stopReason(summary.stop);
    return line;
}

}  // namespace

std::string RescueTally::blockLine(const BlockDamage& damage) const {
    std::string line = "Block " + std::to_string(damage.block) + ": " +
                       unreadable(damage.sectors.unreadableBytes, damage.sectors.places) + ", zero-filled";
    if (std::binary_search(startsTakenFromNext_.begin(), startsTakenFromNext_.end(), damage.block))
        line += "; recording start taken from block " + std::to_string(damage.block + 1);
    return line;
}

void RescueTally::beginFile(int32_t k, const std::string& name) {
    current_ = {k, 0, 0, name};
    runReachesBlock_.reset();
}

void RescueTally::addBlock(const BlockDamage& damage) {
    if (verbose_) console_.outLine(blockLine(damage));
}

void RescueTally::addToFile(const BlockDamage& damage) {
    const card::AreaDamage& sectors = damage.sectors;
    const bool continuesPlace = sectors.startsUnreadable && runReachesBlock_ == damage.block;
    current_.unreadableBytes += sectors.unreadableBytes;
    current_.places += sectors.places - (continuesPlace ? 1 : 0);
    runReachesBlock_.reset();
    if (sectors.endsUnreadable) runReachesBlock_ = damage.block + 1;
}

void RescueTally::endFile() {
    if (current_.unreadableBytes != 0) result_.damaged.push_back(current_);
}

void RescueTally::endRecording(bool storedWhole) {
    if (storedWhole) ++result_.storedWhole;
}

bool RescueSummary::anyUnreadable() const { return unreadableOutside != 0 || !exported.damaged.empty(); }

std::vector<std::string> rescueReportLines(const RescueSummary& summary) {
    std::vector<std::string> lines;
    for (const auto& file : summary.exported.damaged)
        lines.push_back("Damaged file: " + file.name + ", " + unreadable(file.unreadableBytes, file.places));
    lines.push_back(summaryLine(summary));
    return lines;
}

void printRescueReport(platform::Console& console, const RescueSummary& summary) {
    for (const std::string& line : rescueReportLines(summary)) console.errLine(line);
}

}  // namespace quilbex::exporting
