// The export's deflate on fuzzer-shaped chunks: every chunk, whichever
// deflate serves it, must come back from zlib's inflate exactly, and an
// entry's chunks end to end must be one deflate stream.
//
// The input is read as a list of chunks. Each starts with two bytes: what
// shapes it (the low two bits: the bytes as given, runs, a skewed
// histogram, one value repeated; the next bit: the literal block forced or
// the export's own choice) and a length; its bytes follow.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "export/chunk.hpp"
#include "export/chunk_compressor.hpp"
#include "deflate/literal_deflate.hpp"
#include "raw_inflate.hpp"

namespace {

using namespace quilbex::exporting;
using namespace quilbex::deflate;

// Grows or shapes the given bytes into a chunk's data.
std::vector<std::byte> shape(unsigned kind, const uint8_t* bytes, size_t count, size_t length) {
    std::vector<std::byte> data;
    for (size_t i = 0; i < count; ++i) {
        switch (kind) {
        case 0: data.push_back(std::byte(bytes[i])); break;
        case 1: data.insert(data.end(), bytes[i] & 0x3f, std::byte(bytes[i] >> 6)); break;
        case 2: data.push_back(std::byte(bytes[i] * bytes[i] >> 12)); break;  // small values far likelier
        default: break;
        }
    }
    if (kind == 3) data.assign(length * 64 + 1, std::byte(count ? bytes[0] : 0));
    return data;
}

struct Entry {
    std::vector<std::byte> stream;  // every chunk's data, end to end
    std::vector<std::byte> deflated;
};

// Deflates data as the next chunk of the entry, by the literal block or by
// the export's compressor with the stream before it as dictionary.
void deflateChunk(Entry& entry, const std::vector<std::byte>& data, bool forceLiterals, bool last) {
    const size_t historyBytes = std::min(entry.stream.size(), Chunk::historyCapacity);
    entry.stream.insert(entry.stream.end(), data.begin(), data.end());
    const std::span<const std::byte> stream(entry.stream);
    const auto chunkData = stream.last(data.size());
    static LiteralDeflate literals;
    static ChunkCompressor compressor;
    static Chunk chunk;
    if (forceLiterals) {
        const size_t planned = literals.plan(countBytes(chunkData), last);
        const size_t start = entry.deflated.size();
        entry.deflated.resize(start + planned + LiteralDeflate::slack);
        if (literals.write(chunkData, entry.deflated.data() + start) != planned) std::abort();
        entry.deflated.resize(start + planned);
        return;
    }
    chunk.reset(0, false);
    chunk.last = last;
    chunk.data = chunkData;
    chunk.history = stream.first(stream.size() - data.size()).last(historyBytes);
    compressor.compress(chunk);
    if (!chunk.deflated) std::abort();
    const auto out = chunk.compressedData();
    entry.deflated.insert(entry.deflated.end(), out.begin(), out.end());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
    Entry entry;
    size_t at = 0;
    do {
        const unsigned kind = at < size ? input[at] : 0;
        const size_t length = at + 1 < size ? input[at + 1] : 0;
        at = std::min(size, at + 2);
        const size_t count = std::min(length * 16, size - at);
        const auto data = shape(kind & 3, input + at, count, length);
        at += count;
        deflateChunk(entry, data, (kind & 4) != 0, at == size);
    } while (at < size);
    const auto inflated = quilbex::testing::inflateRaw(entry.deflated);
    if (!inflated || *inflated != entry.stream) std::abort();
    return 0;
}
