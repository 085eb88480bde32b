#include "block_composer.hpp"

#include <algorithm>

#include "card_format.hpp"
#include "junk_noise.hpp"
#include "rng.hpp"

namespace mkcard {

namespace {

// Keep the streams of noise, signal phase and junk independent of each other.
constexpr std::uint64_t kJunkSalt = 1;
constexpr std::uint64_t kPhaseSalt = 2;
constexpr std::uint64_t kNoiseSalt = 3;
constexpr std::uint64_t kCallSalt = 5;  // 4 is the trailing bytes'

void put_le16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void put_le32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void write_header_and_trailer(const BlockPlan& plan, std::span<std::uint8_t> block) {
    std::fill_n(block.begin(), kHeaderSize, 0);
    put_le16(&block[kSeqOffset], plan.seq);
    put_le32(&block[kMagicOffset], kMagic);
    put_le32(&block[kTimeOffset], plan.time);
    std::fill(block.end() - kTrailerSize, block.end(), kTrailerByte);
}

}  // namespace

JunkFill junk_fill(const Options& options) {
    if (options.junk_noise) return JunkFill::Noise;
    return options.payload == PayloadMode::Sparse ? JunkFill::Hole : JunkFill::Zeros;
}

BlockComposer::BlockComposer(const Options& options, const Layout& layout)
    : options_(options), layout_(layout) {}

Extent BlockComposer::compose(std::uint64_t index, std::span<std::uint8_t> block) const {
    const BlockPlan& plan = layout_.blocks[index];
    if (plan.kind == BlockKind::Junk) return compose_junk(index, block);
    write_header_and_trailer(plan, block);
    return fill_payload(plan, block.subspan(kHeaderSize, kPayloadSize));
}

Extent BlockComposer::compose_junk(std::uint64_t index, std::span<std::uint8_t> block) const {
    switch (junk_fill(options_)) {
        case JunkFill::Hole: return Extent::None;
        case JunkFill::Zeros: std::fill(block.begin(), block.end(), 0); break;
        case JunkFill::Noise:
            fill_junk_noise(block, derive_seed({options_.seed, kJunkSalt, index}));
            break;
    }
    return Extent::Whole;
}

// WAV samples are the point of a wav: item, so --payload only shapes
// synthetic blocks.
Extent BlockComposer::fill_payload(const BlockPlan& plan, std::span<std::uint8_t> payload) const {
    if (plan.kind == BlockKind::Wav) {
        read_wav_payload(layout_.wavs[plan.source], plan.index_in_source, payload);
        return Extent::Whole;
    }
    switch (options_.payload) {
        case PayloadMode::Sparse: return Extent::HeaderAndTrailer;
        case PayloadMode::Zero: std::fill(payload.begin(), payload.end(), 0); break;
        case PayloadMode::Chirp: {
            // A random phase per stream keeps recordings from starting alike;
            // consecutive blocks continue the signal without a seam.
            const std::uint64_t phase =
                derive_seed({options_.seed, kPhaseSalt, plan.source}) % signal_.period_samples();
            signal_.fill(payload, phase + plan.index_in_source * kSamplesPerBlock,
                         derive_seed({options_.seed, kNoiseSalt, plan.source, plan.index_in_source}));
            break;
        }
        case PayloadMode::Field:
            field_audio_.fill(payload, plan.index_in_source * kSamplesPerBlock,
                              derive_seed({options_.seed, kCallSalt, plan.source}),
                              derive_seed({options_.seed, kNoiseSalt, plan.source, plan.index_in_source}));
            break;
    }
    return Extent::Whole;
}

}  // namespace mkcard
