#pragma once
// Little-endian fields, as the card's blocks, WAV headers and zip records
// store their numbers.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace quilbex::platform {

// The `width` bytes at `offset`, lowest first.
inline uint64_t readLittleEndian(std::span<const std::byte> bytes, size_t offset, size_t width) {
    uint64_t value = 0;
    for (size_t i = 0; i < width; ++i) value |= static_cast<uint64_t>(bytes[offset + i]) << (8 * i);
    return value;
}

// The low `width` bytes of value, lowest first.
inline void appendLittleEndian(std::vector<std::byte>& out, uint64_t value, size_t width) {
    for (size_t i = 0; i < width; ++i) out.push_back(static_cast<std::byte>(value >> (8 * i)));
}

}  // namespace quilbex::platform
