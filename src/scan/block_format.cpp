#include "scan/block_format.hpp"

#include <zlib.h>

#include "platform/little_endian.hpp"

namespace quilbex::scan {

BlockHeader decodeBlockHeader(std::span<const std::byte> bytes) {
    using platform::readLittleEndian;
    return {static_cast<uint16_t>(readLittleEndian(bytes, 2, 2)), static_cast<uint32_t>(readLittleEndian(bytes, 4, 4)),
            static_cast<uint32_t>(readLittleEndian(bytes, 8, 4))};
}

// A sector is at most a few KiB, within zlib's 32-bit length.
uint32_t headerSectorCrc(std::span<const std::byte> sector) {
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(sector.data()), static_cast<uInt>(sector.size())));
}

}  // namespace quilbex::scan
