#include "deflate/huffman_code.hpp"

#include <algorithm>
#include <array>

namespace quilbex::deflate {
namespace {

constexpr int maxBitsAllowed = 15;

// The depth of each leaf in a Huffman tree over `weights`, which are sorted
// ascending: two queues (leaves, then merged nodes in the order made) always
// give the two lightest nodes at their fronts.
void treeDepths(std::span<const uint32_t> weights, std::span<int> depths) {
    const int leaves = static_cast<int>(weights.size());
    std::array<uint64_t, 2 * maxCodeSymbols> weight{};
    std::array<int, 2 * maxCodeSymbols> parent{};
    std::copy(weights.begin(), weights.end(), weight.begin());
    int nextLeaf = 0, nextMerged = leaves, made = leaves;
    const auto takeLightest = [&] {
        const bool leaf = nextLeaf < leaves && (nextMerged == made || weight[nextLeaf] <= weight[nextMerged]);
        return leaf ? nextLeaf++ : nextMerged++;
    };
    while (made < 2 * leaves - 1) {
        const int a = takeLightest();
        const int b = takeLightest();
        weight[made] = weight[a] + weight[b];
        parent[a] = parent[b] = made;
        ++made;
    }
    // A parent comes after its children, so one walk down from the root does.
    std::array<int, 2 * maxCodeSymbols> depth{};
    for (int node = made - 2; node >= 0; --node) depth[node] = depth[parent[node]] + 1;
    std::copy(depth.begin(), depth.begin() + leaves, depths.begin());
}

// Makes the count of codes of each length a complete code within maxBits:
// leaves too deep are pulled up to maxBits, then leaves are pushed down one
// level while the Kraft sum is over one and pulled up while it is under.
void fitLengthCounts(std::array<int, maxBitsAllowed + 2>& perLength, int maxBits) {
    const auto weightOf = [&](int length) { return int64_t{1} << (maxBits - length); };
    int64_t kraft = 0;
    for (int length = 1; length <= maxBits; ++length) kraft += perLength[length] * weightOf(length);
    const int64_t whole = int64_t{1} << maxBits;
    while (kraft > whole) {
        int length = maxBits - 1;
        while (perLength[length] == 0) --length;
        --perLength[length];
        ++perLength[length + 1];
        kraft -= weightOf(length + 1);
    }
    // The Kraft sum is a multiple of the deepest leaf's weight, so that leaf
    // always fits into what is missing.
    while (kraft < whole) {
        int length = maxBits;
        while (perLength[length] == 0 || weightOf(length) > whole - kraft) --length;
        --perLength[length];
        ++perLength[length - 1];
        kraft += weightOf(length);
    }
}

}  // namespace

void buildCodeLengths(std::span<const uint32_t> counts, int maxBits, std::span<uint8_t> lengths) {
    std::fill(lengths.begin(), lengths.end(), uint8_t{0});
    std::array<int, maxCodeSymbols> symbols{};
    int used = 0;
    for (int s = 0; s < static_cast<int>(counts.size()); ++s)
        if (counts[s] != 0) symbols[used++] = s;
    // Two symbols of length 1 when there are fewer: the spare one is never sent.
    if (used < 2) {
        for (int s = 0; used < 2; ++s)
            if (counts[s] == 0) symbols[used++] = s;
        lengths[symbols[0]] = lengths[symbols[1]] = 1;
        return;
    }
    // Ascending by count, ties by symbol: the same order on every platform.
    std::sort(symbols.begin(), symbols.begin() + used,
              [&](int a, int b) { return counts[a] != counts[b] ? counts[a] < counts[b] : a < b; });
    std::array<uint32_t, maxCodeSymbols> weights{};
    for (int i = 0; i < used; ++i) weights[i] = counts[symbols[i]];
    std::array<int, maxCodeSymbols> depths{};
    treeDepths(std::span(weights).first(used), depths);

    std::array<int, maxBitsAllowed + 2> perLength{};
    for (int i = 0; i < used; ++i) ++perLength[std::min(depths[i], maxBits)];
    fitLengthCounts(perLength, maxBits);
    // The shortest codes go to the largest counts, at the end of the order.
    int length = 1;
    for (int i = used - 1; i >= 0; --i) {
        while (perLength[length] == 0) ++length;
        --perLength[length];
        lengths[symbols[i]] = static_cast<uint8_t>(length);
    }
}

void buildCanonicalCodes(std::span<const uint8_t> lengths, std::span<uint16_t> codes) {
    std::array<int, maxBitsAllowed + 1> perLength{};
    for (const uint8_t length : lengths) ++perLength[length];
    perLength[0] = 0;
    std::array<int, maxBitsAllowed + 1> next{};
    int code = 0;
    for (int length = 1; length <= maxBitsAllowed; ++length) {
        code = (code + perLength[length - 1]) << 1;
        next[length] = code;
    }
    for (size_t s = 0; s < lengths.size(); ++s) {
        const int length = lengths[s];
        codes[s] = 0;
        if (length == 0) continue;
        const int value = next[length]++;
        int reversed = 0;
        for (int bit = 0; bit < length; ++bit) reversed |= ((value >> bit) & 1) << (length - 1 - bit);
        codes[s] = static_cast<uint16_t>(reversed);
    }
}

}  // namespace quilbex::deflate
