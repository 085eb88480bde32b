#include "scan/block_format.hpp"

namespace quilbex::scan {
namespace {

uint32_t littleEndian(std::span<const std::byte> bytes, size_t offset, size_t width) {
    uint32_t value = 0;
    for (size_t i = 0; i < width; ++i) value |= static_cast<uint32_t>(bytes[offset + i]) << (8 * i);
    return value;
}

}  // namespace

BlockHeader decodeBlockHeader(std::span<const std::byte> bytes) {
    return {static_cast<uint16_t>(littleEndian(bytes, 2, 2)), littleEndian(bytes, 4, 4), littleEndian(bytes, 8, 4)};
}

}  // namespace quilbex::scan
