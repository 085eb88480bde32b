#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace cardfs {

// Half-open byte range [start, end) of the image.
struct ByteRange {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
};

// How the card misbehaves; the default is a perfect card.
struct ReadRules {
    std::uint64_t data_end = 0;                // reads at or past this see no data
    std::vector<ByteRange> failing;            // reads reaching these get EIO
    std::optional<std::uint64_t> gone_at;      // reads reaching this get ENXIO: the card is gone
    std::optional<std::uint64_t> max_chunk;    // longest answer to one read
};

// What the card answers to one read: `bytes` from the requested offset,
// or `error` (a positive errno) when not even the first byte can be had.
struct ReadPlan {
    std::size_t bytes = 0;
    int error = 0;
};

// Decides the answer to a read of [offset, offset + length). A read that
// starts before a failing range (or the gone offset) gets the bytes up to it,
// so a client that keeps reading meets EIO (ENXIO) exactly where it begins.
ReadPlan plan_read(const ReadRules& rules, std::uint64_t offset, std::size_t length);

}  // namespace cardfs
