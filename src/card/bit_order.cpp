#include "card/bit_order.hpp"

namespace quilbex::card {

void restoreBitOrderPortable(std::byte* data, size_t length) {
    for (size_t i = 0; i < length; ++i) data[i] = std::byte{bitReverseTable[static_cast<uint8_t>(data[i])]};
}

void restoreBitOrder(std::byte* data, size_t length) {
    // Chosen once: the CPU does not change while the process runs.
    static const auto fastest = availableBitOrderPaths().back().restore;
    fastest(data, length);
}

}  // namespace quilbex::card
