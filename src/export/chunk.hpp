#pragma once
// One piece of an archive entry on its way through the pipeline: up to 1 MiB
// of the entry's uncompressed stream (WAV header, then the payloads of its
// blocks), cut at a fixed position in that stream, preceded by the 32 KiB
// that come before it in the stream, and, once a compressor is done, its raw
// deflate data and CRC-32. Chunks are allocated once and reused.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "export/recording_end.hpp"

namespace quilbex::exporting {

struct Chunk {
    static constexpr size_t capacity = size_t{1} << 20;
    // deflate's window: the most a back-reference can reach.
    static constexpr size_t historyCapacity = 32768;
    // Deflate at level 1 falls back to stored blocks on data it cannot
    // shrink, so its output stays well within this.
    static constexpr size_t compressedCapacity = capacity + capacity / 8 + 4096;

    Chunk()
        : bytes_(new std::byte[historyCapacity + capacity]), compressed_(new std::byte[compressedCapacity]) {}

    // Makes a used chunk the start of a new piece of the recording's entry.
    void reset(int32_t forRecording, bool opensEntry) {
        recording = forRecording;
        first = opensEntry;
        last = false;
        end = {};
        historyLength = 0;
        length = 0;
        deflated = false;
        compressedLength = 0;
        crc = 0;
        compressed.store(false, std::memory_order_relaxed);
    }

    // Set by the reader before the chunk is handed on.
    int32_t recording = 0;
    bool first = false;  // opens the entry
    bool last = false;   // ends the entry: compressed with the final block
    RecordingEnd end;    // meaningful when last
    size_t historyLength = 0;  // 0 for the first chunk of an entry
    size_t length = 0;         // uncompressed bytes, 1 to capacity

    std::byte* input() { return bytes_.get() + historyCapacity; }
    std::span<const std::byte> data() const { return {bytes_.get() + historyCapacity, length}; }
    // The stream bytes right before data().
    std::span<const std::byte> history() const { return {bytes_.get() + historyCapacity - historyLength, historyLength}; }
    std::byte* historyArea() { return bytes_.get() + historyCapacity - historyLength; }

    // Set by the compressor before `compressed` becomes true.
    bool deflated = false;  // false when the library failed on the chunk
    size_t compressedLength = 0;
    uint32_t crc = 0;  // CRC-32 of data()
    std::byte* compressedArea() { return compressed_.get(); }
    std::span<const std::byte> compressedData() const { return {compressed_.get(), compressedLength}; }

    // The compressor's release of the fields above to the writer.
    std::atomic<bool> compressed{false};

private:
    std::unique_ptr<std::byte[]> bytes_;  // history area, then the data
    std::unique_ptr<std::byte[]> compressed_;
};

}  // namespace quilbex::exporting
