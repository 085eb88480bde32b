#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dos_time.hpp"

namespace mkcard {

enum class ItemKind { Rec, Wav, Junk, Blk };

// One command-line ITEM, e.g. "rec:4,seq=0.7.3.3@2017-01-01T00:00:00".
struct Item {
    ItemKind kind = ItemKind::Junk;
    std::uint64_t blocks = 1;             // rec: blocks per recording; junk: blocks
    std::uint64_t recordings = 1;         // rec: M of NxM
    std::vector<std::uint16_t> seq_override;  // rec: empty means 0,1,2...
    std::uint16_t blk_seq = 0;            // blk: its sequence number
    std::string wav_path;                 // wav: source file
    std::optional<TimeSpec> time;         // from the @ suffix
};

Item parse_item(std::string_view text);

// Strict decimal: no sign, no blanks, no trailing text.
std::uint64_t parse_count(std::string_view text, std::string_view what);

}  // namespace mkcard
