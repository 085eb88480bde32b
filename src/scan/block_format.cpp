#include "scan/block_format.hpp"

#include "platform/little_endian.hpp"

namespace quilbex::scan {

BlockHeader decodeBlockHeader(std::span<const std::byte> bytes) {
    using platform::readLittleEndian;
    return {static_cast<uint16_t>(readLittleEndian(bytes, 2, 2)), static_cast<uint32_t>(readLittleEndian(bytes, 4, 4)),
            static_cast<uint32_t>(readLittleEndian(bytes, 8, 4))};
}

}  // namespace quilbex::scan
