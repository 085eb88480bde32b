#include "layout.hpp"

#include <algorithm>
#include <string>

#include "error.hpp"

namespace mkcard {

namespace {

// Far beyond any real card, but stops a typo from exhausting memory.
constexpr std::uint64_t kMaxBlocks = std::uint64_t{1} << 24;

// The recorder counts 1, 2, 3...; should a recording ever outgrow 16 bits,
// skip 0 so the continuation is not mistaken for a new recording.
std::uint16_t default_seq(std::uint64_t index) {
    if (index == 0) return 0;
    return static_cast<std::uint16_t>((index - 1) % 0xFFFF + 1);
}

class LayoutBuilder {
public:
    Layout take() { return std::move(layout_); }

    void add(const Item& item) {
        switch (item.kind) {
            case ItemKind::Rec: add_rec(item); break;
            case ItemKind::Wav: add_wav(item); break;
            case ItemKind::Junk: add_junk(item.blocks); break;
            case ItemKind::Blk: add_blk(item); break;
        }
    }

private:
    void reserve(std::uint64_t more) {
        if (more > kMaxBlocks || layout_.blocks.size() + more > kMaxBlocks)
            throw Error("layout exceeds " + std::to_string(kMaxBlocks) + " blocks");
    }

    // Default times count recordings across the whole command line; an
    // explicit time counts within its own item.
    std::uint32_t start_recording(const Item& item, std::uint64_t index_in_item) {
        const std::uint32_t t = item.time ? resolve_time(*item.time, index_in_item)
                                          : resolve_time(default_time_, recordings_);
        ++recordings_;
        last_time_ = t;
        return t;
    }

    void add_rec(const Item& item) {
        // Bounding each factor first keeps the product from overflowing.
        reserve(item.blocks);
        reserve(item.recordings);
        reserve(item.blocks * item.recordings);
        for (std::uint64_t r = 0; r < item.recordings; ++r) {
            const std::uint32_t time = start_recording(item, r);
            const std::uint32_t stream = next_stream_++;
            for (std::uint64_t k = 0; k < item.blocks; ++k) {
                const std::uint16_t seq =
                    item.seq_override.empty() ? default_seq(k) : item.seq_override[k];
                layout_.blocks.push_back({BlockKind::Synthetic, seq, time, stream, k});
            }
        }
    }

    void add_wav(const Item& item) {
        layout_.wavs.push_back(open_wav(item.wav_path));
        const std::uint64_t n = wav_block_count(layout_.wavs.back());
        reserve(n);
        const std::uint32_t time = start_recording(item, 0);
        const auto source = static_cast<std::uint32_t>(layout_.wavs.size() - 1);
        for (std::uint64_t k = 0; k < n; ++k)
            layout_.blocks.push_back({BlockKind::Wav, default_seq(k), time, source, k});
    }

    void add_junk(std::uint64_t n) {
        reserve(n);
        layout_.blocks.resize(layout_.blocks.size() + n, BlockPlan{});
    }

    void add_blk(const Item& item) {
        reserve(1);
        const std::uint32_t time = item.time ? resolve_time(*item.time, 0) : last_time_;
        layout_.blocks.push_back({BlockKind::Synthetic, item.blk_seq, time, next_stream_++, 0});
    }

    Layout layout_;
    TimeSpec default_time_{false, 0, default_base_time()};
    std::uint64_t recordings_ = 0;
    std::uint32_t next_stream_ = 0;
    std::uint32_t last_time_ = encode_dos_time(default_base_time());
};

}  // namespace

Layout build_layout(const std::vector<Item>& items) {
    LayoutBuilder builder;
    for (const Item& item : items) builder.add(item);
    return builder.take();
}

std::vector<RecordingSpan> find_recordings(const std::vector<BlockPlan>& blocks,
                                           std::uint64_t whole_blocks) {
    std::vector<RecordingSpan> spans;
    bool open = false;
    const std::uint64_t n = std::min<std::uint64_t>(whole_blocks, blocks.size());
    for (std::uint64_t i = 0; i < n; ++i) {
        const BlockPlan& b = blocks[i];
        if (b.kind == BlockKind::Junk) {
            open = false;
        } else if (b.seq == 0) {
            spans.push_back({i, i + 1, b.time});
            open = true;
        } else if (open) {
            spans.back().end_block = i + 1;
        }
    }
    return spans;
}

}  // namespace mkcard
