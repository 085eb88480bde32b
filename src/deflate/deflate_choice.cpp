#include "deflate/deflate_choice.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>

namespace quilbex::deflate {
namespace {

constexpr size_t probeWindows = 16;
constexpr size_t windowBytes = 2048;  // positions fit the table's 16 bits
constexpr size_t minMatch = 4;
constexpr size_t maxMatch = 258;
// Matches must cover this share of the probed bytes (1 / n) to pay.
constexpr size_t payingShare = 16;

uint32_t load32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// The bytes of the window that a greedy search with one candidate per hash
// finds in matches of at least minMatch bytes within the window.
size_t matchedBytes(const uint8_t* window) {
    constexpr uint16_t none = 0xffff;
    std::array<uint16_t, 4096> latest;
    latest.fill(none);
    size_t matched = 0;
    for (size_t i = 0; i + minMatch <= windowBytes;) {
        const uint32_t head = load32(window + i);
        uint16_t& slot = latest[(head * 2654435761u) >> 20];
        const size_t candidate = slot;
        slot = static_cast<uint16_t>(i);
        if (candidate == none || load32(window + candidate) != head) {
            ++i;
            continue;
        }
        size_t length = minMatch;
        while (i + length < windowBytes && length < maxMatch && window[candidate + length] == window[i + length])
            ++length;
        matched += length;
        i += length;
    }
    return matched;
}

}  // namespace

DeflateMode deflateMode(const char* setting) {
    return setting != nullptr && std::string_view(setting) == "isal" ? DeflateMode::isalOnly : DeflateMode::perChunk;
}

bool matchesPay(std::span<const std::byte> data) {
    if (data.size() < windowBytes) return true;
    const auto* bytes = reinterpret_cast<const uint8_t*>(data.data());
    const size_t paying = probeWindows * windowBytes / payingShare;
    size_t matched = 0;
    // Windows at fixed fractions of the chunk, first and last at its ends;
    // once the matches pay, the windows left cannot change that.
    for (size_t w = 0; w < probeWindows && matched < paying; ++w)
        matched += matchedBytes(bytes + (data.size() - windowBytes) * w / (probeWindows - 1));
    return matched >= paying;
}

}  // namespace quilbex::deflate
