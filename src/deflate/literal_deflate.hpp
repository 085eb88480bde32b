#pragma once
// Deflate without matches: one dynamic block whose literal code is built from
// the bytes' own counts, with a single zero-length distance code (no
// distances at all). On noise-like audio, where back-references are rare,
// this gives about what a matching deflate gives, for much less work.
//
// A block ends as the export's chunks end: a sync flush (an empty stored
// block, so the next chunk starts on a byte) or, for an entry's last chunk,
// the final block. Blocks of either kind and the export's other deflate data
// put end to end are one deflate stream.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "deflate/huffman_code.hpp"

namespace quilbex::deflate {

class BitSink;

using ByteCounts = std::array<uint32_t, 256>;

// How often each byte value occurs in data (at most 4 GiB of it).
ByteCounts countBytes(std::span<const std::byte> data);

class LiteralDeflate {
public:
    LiteralDeflate();

    // Plans the block for data with these counts; returns its size in bytes,
    // sync flush or final block included.
    size_t plan(const ByteCounts& counts, bool last);

    // The bytes the planned block may write past its size: `out` must hold
    // plan() + slack.
    static constexpr size_t slack = 8;

    // Writes the planned block for data, whose counts it was planned with.
    // Returns the bytes written, plan()'s result.
    size_t write(std::span<const std::byte> data, std::byte* out);

private:
    void writeHeader(BitSink& sink) const;

    bool last_ = false;
    size_t bytes_ = 0;
    std::array<uint8_t, maxCodeSymbols> lengths_{};
    std::array<uint16_t, maxCodeSymbols> codes_{};
    // The code lengths, as deflate sends them: run-length symbols with their
    // extra bits, under a code of their own.
    std::array<uint16_t, maxCodeSymbols + 1> lengthRuns_{};  // symbol | extra << 5
    int lengthRunCount_ = 0;
    std::array<uint8_t, 19> runLengths_{};
    std::array<uint16_t, 19> runCodes_{};
    // Every pair of bytes' two codes in one: code in the low 32 bits, its
    // length above. Large, so kept on the heap.
    std::unique_ptr<uint64_t[]> pairs_;
};

}  // namespace quilbex::deflate
