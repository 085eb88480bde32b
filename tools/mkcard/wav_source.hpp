#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace mkcard {

// Where the sample bytes of an accepted WAV file live.
struct WavSource {
    std::string path;
    std::uint64_t data_offset = 0;
    std::uint64_t data_size = 0;
};

// Accepts only 16-bit mono PCM (plain or extensible); anything else is an
// Error naming the file and what is wrong with it.
WavSource open_wav(const std::string& path);

// Fills `payload` with the sample bytes of the given payload-sized slice,
// zero-padding past the end of the data.
void read_wav_payload(const WavSource& wav, std::uint64_t block_index,
                      std::span<std::uint8_t> payload);

std::uint64_t wav_block_count(const WavSource& wav);

}  // namespace mkcard
