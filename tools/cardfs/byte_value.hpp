#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace cardfs {

// The recorder writes the card in blocks of this size; "bN" names block N.
inline constexpr std::uint64_t kBlockBytes = std::uint64_t{4} << 20;

// Parses a byte count or offset: "1234", "64K", "3M", "1G" (binary units),
// or "b3" for the start of block 3. Returns nothing on malformed or
// overflowing input.
std::optional<std::uint64_t> parse_byte_value(std::string_view text);

}  // namespace cardfs
