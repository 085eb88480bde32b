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

void BlockCutter::cut(Chunk& chunk, int32_t k, const std::byte* payload, size_t piece, size_t headerSize,
                      bool lastBlock) {
    const size_t start = piece * Chunk::capacity;
    const size_t stop = std::min(start + Chunk::capacity, payloadSize);
    const bool opensEntry = start == 0 && headerSize != 0;
    chunk.reset(k, opensEntry);
    chunk.data = {payload + start - (opensEntry ? headerSize : 0), payload + stop};
    if (!opensEntry) chunk.history = {payload + start - Chunk::historyCapacity, Chunk::historyCapacity};
    chunk.last = lastBlock && stop == payloadSize;
}

}  // namespace quilbex::exporting
