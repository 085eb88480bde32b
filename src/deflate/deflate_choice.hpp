#pragma once
// Which deflate serves a chunk: the literals-only block (literal_deflate),
// or ISA-L's level 1, whose matches make silence, tones and zero-filled areas
// far smaller. The choice looks at the chunk's own bytes only, so an archive
// stays the same whichever compressor makes a chunk.

#include <cstddef>
#include <span>

namespace quilbex::deflate {

enum class DeflateMode {
    perChunk,  // each chunk as its bytes suit it
    isalOnly,  // every chunk through ISA-L, as a yardstick for the benchmark
};

// isalOnly when the setting (the QUILBEX_DEFLATE environment value, or null)
// is "isal"; perChunk otherwise.
DeflateMode deflateMode(const char* setting);

// Whether back-references would pay on data: true when a greedy match search
// in a few windows spread over it covers a noticeable share of their bytes.
// Noise-like audio repeats almost nothing; silence, tones and zero fill do.
bool matchesPay(std::span<const std::byte> data);

}  // namespace quilbex::deflate
