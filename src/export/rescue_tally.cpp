#include "export/rescue_tally.hpp"

#include <algorithm>
#include <string>

namespace quilbex::exporting {
namespace {

std::string places(uint32_t count) { return std::to_string(count) + (count == 1 ? " place" : " places"); }

}  // namespace

std::string unreadableText(uint64_t bytes, uint32_t count) {
    return std::to_string(bytes) + " unreadable bytes in " + places(count);
}

std::string RescueTally::blockLine(const BlockDamage& damage) const {
    std::string line = "Block " + std::to_string(damage.block) + ": " +
                       unreadableText(damage.sectors.unreadableBytes, damage.sectors.places) + ", zero-filled";
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

}  // namespace quilbex::exporting
