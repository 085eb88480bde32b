#pragma once

#include <cstdint>
#include <vector>

#include "item.hpp"
#include "wav_source.hpp"

namespace mkcard {

enum class BlockKind : std::uint8_t { Junk, Synthetic, Wav };

struct BlockPlan {
    BlockKind kind = BlockKind::Junk;
    std::uint16_t seq = 0;
    std::uint32_t time = 0;
    // Synthetic: signal stream the block continues; Wav: index into wavs.
    std::uint32_t source = 0;
    std::uint64_t index_in_source = 0;
};

struct Layout {
    std::vector<BlockPlan> blocks;
    std::vector<WavSource> wavs;
};

// Expands the items into one plan per block, assigning sequence numbers and
// start times. Opens every WAV so bad files fail before anything is written.
Layout build_layout(const std::vector<Item>& items);

// A run of blocks a reader should see as one recording.
struct RecordingSpan {
    std::uint64_t first_block = 0;
    std::uint64_t end_block = 0;
    std::uint32_t time = 0;
};

// Applies the card's own rule (a magic block with sequence 0 followed by
// magic blocks with non-zero sequence) to the first `whole_blocks` blocks,
// so odd blk:/seq= layouts are reported the way a reader must see them.
std::vector<RecordingSpan> find_recordings(const std::vector<BlockPlan>& blocks,
                                           std::uint64_t whole_blocks);

}  // namespace mkcard
