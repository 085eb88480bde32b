// Processors without a vector path of their own use the table.

#include "card/bit_order.hpp"

namespace quilbex::card {

std::vector<BitOrderPath> availableBitOrderPaths() { return {{"portable", restoreBitOrderPortable}}; }

}  // namespace quilbex::card
