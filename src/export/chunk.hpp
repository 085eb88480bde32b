#pragma once
// One piece of a file on its way through the pipeline: up to 1 MiB of the
// file's stream (WAV header, the payloads of its blocks, the metadata chunk),
// cut at fixed positions, with up to 32 KiB of stream before it as deflate's
// dictionary, and, once a compressor is done, its raw deflate data and
// CRC-32. The data lies in a block buffer, which the chunk keeps in use until
// it is compressed, or in the chunk's own bytes. Chunks are allocated once
// and reused.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "card/sector_rescue.hpp"
#include "export/done_flag.hpp"
#include "export/recording_end.hpp"
#include "output/file_plan.hpp"
#include "platform/sha256.hpp"

namespace quilbex::exporting {

class BlockBuffer;

// The unreadable sectors of a card block, zero-filled by the rescue.
struct BlockDamage {
    int32_t block = 0;
    card::AreaDamage sectors;
};

struct Chunk {
    static constexpr size_t capacity = size_t{1} << 20;
    // deflate's window: the most a back-reference can reach.
    static constexpr size_t historyCapacity = 32768;
    // Deflate at level 1 falls back to stored blocks on data it cannot
    // shrink, so its output for a chunk (and a WAV header) stays well within
    // this; a literal block is written only when smaller than its data.
    static constexpr size_t compressedCapacity = capacity + capacity / 8 + 4096;

    Chunk() : compressed_(new std::byte[compressedCapacity]) {}

    // Makes a used chunk a new piece of one of the recording's files.
    void reset(int32_t forRecording, bool opensFile) {
        recording = forRecording;
        first = opensFile;
        last = false;
        endsRecording = false;
        end = {};
        damage = {};
        fileDamage = {};
        data = {};
        history = {};
        block = nullptr;
        deflated = false;
        compressedLength = 0;
        crc = 0;
        digest = {};
        compressed.reset();
    }

    // Set by the reader before the chunk is handed on.
    int32_t recording = 0;
    bool first = false;  // opens a file
    bool last = false;   // ends the file: compressed with the final block
    // The last chunk of the recording: of its last file, or of the file in
    // which its reading ended.
    bool endsRecording = false;
    RecordingEnd end;           // meaningful when endsRecording
    output::PlannedFile file;   // meaningful when first
    BlockDamage damage;  // on the first chunk cut from a block with unreadable sectors
    // On a file's first chunk in such a block: the part of its damage in the file.
    BlockDamage fileDamage;
    std::span<const std::byte> data;     // empty only for the last chunk of a file cut short
    std::span<const std::byte> history;  // empty for a file's first chunk, and for one after its own bytes
    BlockBuffer* block = nullptr;        // holds data and history; null when they lie in ownBytes
    // Room for a WAV header and a metadata chunk that lie in no block.
    std::array<std::byte, 1024> ownBytes{};

    // Set by the compressor before `compressed` becomes true.
    bool deflated = false;  // false when the library failed on the chunk
    size_t compressedLength = 0;
    uint32_t crc = 0;  // CRC-32 of data
    // For a destination that wants it, on a file's last chunk: the SHA-256
    // of the file's stream.
    platform::Sha256Digest digest{};
    std::byte* compressedArea() { return compressed_.get(); }
    std::span<const std::byte> compressedData() const { return {compressed_.get(), compressedLength}; }

    // The compressor's release of the fields above to the writer.
    DoneFlag compressed;

private:
    std::unique_ptr<std::byte[]> compressed_;
};

}  // namespace quilbex::exporting
