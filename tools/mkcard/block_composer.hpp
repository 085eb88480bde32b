#pragma once

#include <cstdint>
#include <span>

#include "chirp_signal.hpp"
#include "field_audio.hpp"
#include "layout.hpp"
#include "options.hpp"

namespace mkcard {

// How much of a composed block has to reach the card; the rest stays a hole.
enum class Extent { None, HeaderAndTrailer, Whole };

// Produces the logical (not yet bit-mirrored) bytes of one block.
class BlockComposer {
public:
    BlockComposer(const Options& options, const Layout& layout);

    // `block` must hold kBlockSize bytes. Thread-safe: no shared state changes.
    Extent compose(std::uint64_t index, std::span<std::uint8_t> block) const;

private:
    Extent compose_junk(std::uint64_t index, std::span<std::uint8_t> block) const;
    Extent fill_payload(const BlockPlan& plan, std::span<std::uint8_t> payload) const;

    const Options& options_;
    const Layout& layout_;
    ChirpSignal signal_;
    FieldAudio field_audio_;
};

// Shared by junk blocks and trailing bytes, which follow the same rules.
enum class JunkFill { Hole, Zeros, Noise };
JunkFill junk_fill(const Options& options);

}  // namespace mkcard
