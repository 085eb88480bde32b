#include "export/block_cutter.hpp"

#include <algorithm>
#include <cstring>

namespace quilbex::exporting {
namespace {

constexpr auto payloadSize = static_cast<size_t>(scan::blockPayloadSize);

}  // namespace

void BlockCutter::placeLead(std::byte* payload, std::span<const std::byte> header) {
    if (header.empty())
        std::memcpy(payload - Chunk::historyCapacity, history_.data(), Chunk::historyCapacity);
    else
        std::memcpy(payload - header.size(), header.data(), header.size());
    std::memcpy(history_.data(), payload + payloadSize - Chunk::historyCapacity, Chunk::historyCapacity);
}

size_t BlockCutter::nextCut(size_t start, size_t limit) {
    return std::min({(start / Chunk::capacity + 1) * Chunk::capacity, payloadSize, limit});
}

void BlockCutter::cut(Chunk& chunk, int32_t k, const std::byte* payload, size_t start, size_t stop, size_t headerSize,
                      size_t historyBytes) {
    const bool opensFile = headerSize != 0;
    chunk.reset(k, opensFile);
    chunk.data = {payload + start - headerSize, payload + stop};
    if (!opensFile) chunk.history = {payload + start - historyBytes, historyBytes};
}

}  // namespace quilbex::exporting
