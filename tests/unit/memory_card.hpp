#pragma once
// A card held in memory for the export tests: blocks stored bit-reversed as
// the recorder writes them, with the faults a test asks for, and the
// recording table and expected entry contents that go with it.

#include <array>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "card/bit_order.hpp"
#include "platform/raw_device.hpp"
#include "scan/block_format.hpp"
#include "scan/recording_table.hpp"

namespace quilbex::testing {

// What fills a recording's payload.
enum class Signal {
    sweep,  // a rising tone with a little noise: compresses like real recordings
    noise,  // random bytes: deflate cannot shrink them
};

struct RecordingPlan {
    int32_t blocks = 1;
    Signal signal = Signal::sweep;
    uint32_t startTime = 0x4A6570F0;  // 2017-03-05 14:07:32
};

// The bytes of a card image and the recordings laid out on it from block 0.
struct CardImage {
    std::vector<std::byte> bytes;  // as stored: bit-reversed
    scan::RecordingTable table;
    // The logical payload of each recording, every block's in order.
    std::vector<std::vector<std::byte>> payloads;
};

inline void fillPayload(std::span<std::byte> payload, Signal signal, uint32_t seed) {
    uint32_t state = seed * 2654435761u + 1;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    if (signal == Signal::noise) {
        for (auto& b : payload) b = std::byte(next() & 0xFF);
        return;
    }
    static const auto sine = [] {
        std::array<int16_t, 1024> table{};
        for (size_t i = 0; i < table.size(); ++i) table[i] = static_cast<int16_t>(8000.0 * std::sin(i * 6.2831853 / 1024));
        return table;
    }();
    uint32_t phase = 0;
    uint32_t step = 1u << 20;
    for (size_t i = 0; i + 1 < payload.size(); i += 2) {
        phase += step;
        step += 64;  // the tone rises
        const auto sample = static_cast<uint16_t>(sine[phase >> 22] + static_cast<int>(next() % 64) - 32);
        payload[i] = std::byte(sample & 0xFF);
        payload[i + 1] = std::byte(sample >> 8);
    }
}

inline std::shared_ptr<const CardImage> makeCardImage(const std::vector<RecordingPlan>& plans) {
    auto image = std::make_shared<CardImage>();
    int32_t blocks = 0;
    for (const auto& plan : plans) blocks += plan.blocks;
    image->bytes.resize(static_cast<size_t>(blocks) * scan::blockSize);
    int32_t block = 0;
    for (const auto& plan : plans) {
        const int32_t k = image->table.recordingCount;
        image->table.open(block, plan.startTime);
        auto& payload = image->payloads.emplace_back(static_cast<size_t>(plan.blocks) * scan::blockPayloadSize);
        fillPayload(payload, plan.signal, static_cast<uint32_t>(k + 1));
        for (int32_t b = 0; b < plan.blocks; ++b, ++block) {
            std::byte* stored = image->bytes.data() + static_cast<size_t>(block) * scan::blockSize;
            // Header and trailer bytes that must never reach an entry.
            std::memset(stored, 0xA5, scan::blockSize);
            std::memcpy(stored + scan::blockHeaderSize,
                        payload.data() + static_cast<size_t>(b) * scan::blockPayloadSize, scan::blockPayloadSize);
            card::restoreBitOrder(stored, scan::blockSize);
        }
        image->table.extendTo(block);
    }
    return image;
}

// Card bytes [start, end) that no read can get past, as on a worn card:
// every read that touches them fails whole, as through a block device.
struct BadArea {
    int64_t start = 0;
    int64_t end = 0;
    int errorCode = EIO;
    int failures = -1;  // reads it fails before it reads after all; -1: for ever
};

// Serves a card image, failing where told. Only the export's reader thread
// calls it; the test reads the counters after the export has returned.
class MemoryCard final : public platform::RawDevice {
public:
    explicit MemoryCard(std::shared_ptr<const CardImage> image) : image_(std::move(image)) {}

    std::map<int32_t, int> failingSeeks;  // block -> error code of the failed seek
    std::optional<int32_t> failingRead;   // the first read inside this block fails
    std::vector<BadArea> badAreas;
    uint32_t largestRead = UINT32_MAX;    // the most one read delivers
    // Raised when the seek to this block is made.
    std::optional<int32_t> stopAtBlock;
    std::atomic<int>* stopSignal = nullptr;

    int32_t seeks = 0;
    int32_t failedReads = 0;

    platform::SeekResult seek(int64_t offset) override {
        ++seeks;
        const auto block = static_cast<int32_t>(offset / scan::blockSize);
        if (stopAtBlock == block && stopSignal) stopSignal->store(2);
        if (const auto it = failingSeeks.find(block); it != failingSeeks.end())
            return {-1, platform::SystemError::posix(it->second)};
        position_ = offset;
        return {offset, {}};
    }

    platform::ReadResult read(std::byte* destination, uint32_t length) override {
        if (failingRead == position_ / scan::blockSize) return {false, 0, platform::SystemError::posix(EIO)};
        for (auto& bad : badAreas) {
            if (bad.failures == 0 || bad.end <= position_ || position_ + length <= bad.start) continue;
            if (bad.failures > 0) --bad.failures;
            ++failedReads;
            return {false, 0, platform::SystemError::posix(bad.errorCode)};
        }
        const auto size = static_cast<int64_t>(image_->bytes.size());
        const auto n = static_cast<uint32_t>(std::min<int64_t>({length, largestRead, size - position_}));
        std::memcpy(destination, image_->bytes.data() + position_, n);
        position_ += n;
        return {true, n, {}};
    }

    size_t bufferAlignment() const override { return 4096; }

private:
    std::shared_ptr<const CardImage> image_;
    int64_t position_ = 0;
};

}  // namespace quilbex::testing
