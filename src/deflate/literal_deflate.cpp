#include "deflate/literal_deflate.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

namespace quilbex::deflate {

// Bits into bytes, least significant first, through a 64-bit buffer that
// always stores eight bytes and moves on by the whole ones: no branch per
// code. Holds fewer than 8 bits between puts.
class BitSink {
public:
    explicit BitSink(std::byte* out) : out_(out) {}

    // bits: at most 56.
    void put(uint64_t value, unsigned bits) {
        buffer_ |= value << count_;
        count_ += bits;
        store(buffer_);
        out_ += count_ >> 3;
        buffer_ >>= count_ & 56;
        count_ &= 7;
    }

    // Pads to a byte; returns the end of the data.
    std::byte* finish() {
        put(0, (8 - count_) & 7);
        return out_;
    }

private:
    void store(uint64_t bytes) {
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(out_, &bytes, sizeof bytes);
        } else {
            for (unsigned i = 0; i < 8; ++i) out_[i] = static_cast<std::byte>(bytes >> (8 * i));
        }
    }

    std::byte* out_;
    uint64_t buffer_ = 0;
    unsigned count_ = 0;
};

namespace {

constexpr int endOfBlock = 256;
constexpr int lengthCodes = maxCodeSymbols + 1;  // the literal code, then the one distance code
constexpr int runSymbols = 19;
constexpr std::array<uint8_t, runSymbols> runSymbolOrder{16, 17, 18, 0, 8, 7, 9, 6, 10, 5,
                                                         11, 4, 12, 3, 13, 2, 14, 1, 15};

int extraBits(int runSymbol) { return runSymbol == 16 ? 2 : runSymbol == 17 ? 3 : runSymbol == 18 ? 7 : 0; }

uint16_t run(int symbol, int extra = 0) { return static_cast<uint16_t>(symbol | extra << 5); }

// The code lengths as deflate's run-length symbols: zeros in runs of up to
// 138, any other length once and then repeated in runs of up to 6.
int encodeRuns(std::span<const uint8_t> lengths, std::span<uint16_t> runs) {
    int count = 0;
    for (size_t i = 0; i < lengths.size();) {
        const uint8_t length = lengths[i];
        size_t same = 1;
        while (i + same < lengths.size() && lengths[i + same] == length) ++same;
        i += same;
        if (length == 0) {
            for (; same >= 11; same -= std::min<size_t>(same, 138))
                runs[count++] = run(18, static_cast<int>(std::min<size_t>(same, 138) - 11));
            if (same >= 3) runs[count++] = run(17, static_cast<int>(same - 3)), same = 0;
        } else {
            runs[count++] = run(length), --same;
            for (; same >= 3; same -= std::min<size_t>(same, 6))
                runs[count++] = run(16, static_cast<int>(std::min<size_t>(same, 6) - 3));
        }
        for (; same > 0; --same) runs[count++] = run(length);
    }
    return count;
}

}  // namespace

ByteCounts countBytes(std::span<const std::byte> data) {
    // Four lanes, so that a run of one value does not wait on its own count.
    std::array<ByteCounts, 4> lanes{};
    const auto* p = reinterpret_cast<const uint8_t*>(data.data());
    const size_t whole = data.size() / 4 * 4;
    for (size_t i = 0; i < whole; i += 4) {
        ++lanes[0][p[i]];
        ++lanes[1][p[i + 1]];
        ++lanes[2][p[i + 2]];
        ++lanes[3][p[i + 3]];
    }
    for (size_t i = whole; i < data.size(); ++i) ++lanes[0][p[i]];
    ByteCounts counts{};
    for (int v = 0; v < 256; ++v) counts[v] = lanes[0][v] + lanes[1][v] + lanes[2][v] + lanes[3][v];
    return counts;
}

LiteralDeflate::LiteralDeflate() : pairs_(new uint64_t[size_t{1} << 16]) {}

size_t LiteralDeflate::plan(const ByteCounts& counts, bool last) {
    last_ = last;
    std::array<uint32_t, maxCodeSymbols> symbolCounts{};
    std::copy(counts.begin(), counts.end(), symbolCounts.begin());
    symbolCounts[endOfBlock] = 1;
    buildCodeLengths(symbolCounts, 15, lengths_);
    buildCanonicalCodes(lengths_, codes_);

    std::array<uint8_t, lengthCodes> allLengths{};  // the distance code's length stays 0
    std::copy(lengths_.begin(), lengths_.end(), allLengths.begin());
    lengthRunCount_ = encodeRuns(allLengths, lengthRuns_);
    std::array<uint32_t, runSymbols> runCounts{};
    for (int i = 0; i < lengthRunCount_; ++i) ++runCounts[lengthRuns_[i] & 31];
    buildCodeLengths(runCounts, 7, runLengths_);
    buildCanonicalCodes(runLengths_, runCodes_);

    uint64_t bits = 3 + 5 + 5 + 4 + 3 * runSymbols;
    for (int i = 0; i < lengthRunCount_; ++i) {
        const int symbol = lengthRuns_[i] & 31;
        bits += runLengths_[symbol] + extraBits(symbol);
    }
    for (int v = 0; v < maxCodeSymbols; ++v) bits += uint64_t{symbolCounts[v]} * lengths_[v];
    // The sync flush: an empty stored block's 3 bits, padding, then its lengths.
    bytes_ = last ? (bits + 7) / 8 : (bits + 3 + 7) / 8 + 4;
    return bytes_;
}

void LiteralDeflate::writeHeader(BitSink& sink) const {
    sink.put(last_ ? 1 : 0, 1);
    sink.put(2, 2);  // dynamic Huffman codes
    sink.put(0, 5);  // 257 literal/length codes
    sink.put(0, 5);  // one distance code
    sink.put(runSymbols - 4, 4);
    for (const uint8_t symbol : runSymbolOrder) sink.put(runLengths_[symbol], 3);
    for (int i = 0; i < lengthRunCount_; ++i) {
        const int symbol = lengthRuns_[i] & 31;
        sink.put(runCodes_[symbol], runLengths_[symbol]);
        sink.put(lengthRuns_[i] >> 5, static_cast<unsigned>(extraBits(symbol)));
    }
}

size_t LiteralDeflate::write(std::span<const std::byte> data, std::byte* out) {
    // Only pairs of byte values that occur are ever looked up.
    std::array<unsigned, 256> present{};
    unsigned presentCount = 0;
    for (unsigned value = 0; value < 256; ++value)
        if (lengths_[value] != 0) present[presentCount++] = value;
    for (unsigned i = 0; i < presentCount; ++i) {
        const unsigned second = present[i];
        const uint64_t high = uint64_t{codes_[second]};
        for (unsigned j = 0; j < presentCount; ++j) {
            const unsigned first = present[j];
            pairs_[second << 8 | first] = (codes_[first] | high << lengths_[first]) |
                                          (uint64_t{lengths_[first]} + lengths_[second]) << 32;
        }
    }
    BitSink sink(out);
    writeHeader(sink);
    // Two bytes a step: at most 30 bits, which the sink always has room for.
    const auto* p = reinterpret_cast<const uint8_t*>(data.data());
    const size_t pairEnd = data.size() & ~size_t{1};
    for (size_t i = 0; i < pairEnd; i += 2) {
        const uint64_t entry = pairs_[unsigned{p[i]} | unsigned{p[i + 1]} << 8];
        sink.put(entry & 0xffffffffu, static_cast<unsigned>(entry >> 32));
    }
    if (pairEnd != data.size()) sink.put(codes_[p[pairEnd]], lengths_[p[pairEnd]]);
    sink.put(codes_[endOfBlock], lengths_[endOfBlock]);
    if (!last_) {
        sink.put(0, 3);  // an empty stored block, not final
        std::byte* end = sink.finish();
        for (const int b : {0x00, 0x00, 0xff, 0xff}) *end++ = static_cast<std::byte>(b);
        return static_cast<size_t>(end - out);
    }
    return static_cast<size_t>(sink.finish() - out);
}

}  // namespace quilbex::deflate
