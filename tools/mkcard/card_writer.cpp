#include "card_writer.hpp"

#include <algorithm>
#include <limits>
#include <memory>

#include "bit_reverse.hpp"
#include "block_composer.hpp"
#include "card_format.hpp"
#include "junk_noise.hpp"
#include "rng.hpp"
#include "sparse_file.hpp"

namespace mkcard {

namespace {

constexpr std::uint64_t kNotListed = std::numeric_limits<std::uint64_t>::max();
constexpr std::uint64_t kTrailingSalt = 4;

// Offset of each block's payload in the --payload-out file, if it has one.
std::vector<std::uint64_t> payload_offsets(const std::vector<RecordingSpan>& spans,
                                           std::size_t block_count, std::uint64_t& total) {
    std::vector<std::uint64_t> offsets(block_count, kNotListed);
    total = 0;
    for (const RecordingSpan& s : spans)
        for (std::uint64_t b = s.first_block; b < s.end_block; ++b, total += kPayloadSize)
            offsets[b] = total;
    return offsets;
}

void write_mirrored(SparseFile& image, std::span<std::uint8_t> bytes, std::uint64_t offset) {
    reverse_bits_in_place(bytes);
    image.write_at(bytes, offset);
}

void write_extent(SparseFile& image, Extent extent, std::span<std::uint8_t> block,
                  std::uint64_t offset) {
    if (extent == Extent::Whole) {
        write_mirrored(image, block, offset);
    } else if (extent == Extent::HeaderAndTrailer) {
        write_mirrored(image, block.first(kHeaderSize), offset);
        write_mirrored(image, block.last(kTrailerSize), offset + kBlockSize - kTrailerSize);
    }
}

void write_trailing(const Options& options, SparseFile& image, std::uint64_t start,
                    std::vector<std::uint8_t>& buf) {
    const JunkFill fill = junk_fill(options);
    if (fill == JunkFill::Hole) return;
    for (std::uint64_t done = 0, chunk = 0; done < options.trailing; done += kBlockSize, ++chunk) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kBlockSize, options.trailing - done));
        const std::span<std::uint8_t> part(buf.data(), n);
        if (fill == JunkFill::Noise)
            fill_junk_noise(part, derive_seed({options.seed, kTrailingSalt, chunk}));
        else
            std::fill(part.begin(), part.end(), 0);
        write_mirrored(image, part, start + done);
    }
}

}  // namespace

std::vector<RecordingSpan> write_card(const Options& options, const Layout& layout) {
    const std::uint64_t blocks_end = layout.blocks.size() * kBlockSize;
    const std::uint64_t length = options.size.value_or(blocks_end + options.trailing);
    const auto spans = find_recordings(layout.blocks, length / kBlockSize);
    std::uint64_t payload_total = 0;
    const auto out_offsets = payload_offsets(spans, layout.blocks.size(), payload_total);

    SparseFile image(options.output, length);
    std::unique_ptr<SparseFile> payload_out;
    if (!options.payload_out.empty()) payload_out = std::make_unique<SparseFile>(options.payload_out);

    const BlockComposer composer(options, layout);
    std::vector<std::uint8_t> buf(kBlockSize);
    for (std::uint64_t i = 0; i < layout.blocks.size() && i * kBlockSize < length; ++i) {
        const Extent extent = composer.compose(i, buf);
        if (payload_out && out_offsets[i] != kNotListed && extent == Extent::Whole)
            payload_out->write_at(std::span(buf).subspan(kHeaderSize, kPayloadSize), out_offsets[i]);
        write_extent(image, extent, buf, i * kBlockSize);
    }
    write_trailing(options, image, blocks_end, buf);
    image.finish(length);
    if (payload_out) payload_out->finish(payload_total);
    return spans;
}

}  // namespace mkcard
