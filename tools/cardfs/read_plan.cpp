#include "read_plan.hpp"

#include <algorithm>
#include <cerrno>

namespace cardfs {
namespace {

std::uint64_t available_bytes(const ReadRules& rules, std::uint64_t offset, std::size_t length) {
    if (offset >= rules.data_end) {
        return 0;
    }
    return std::min<std::uint64_t>(length, rules.data_end - offset);
}

// Returns the end of the readable stretch starting at `offset`, which is
// `offset` itself when it lies inside a failing range.
std::uint64_t readable_until(const ReadRules& rules, std::uint64_t offset, std::uint64_t end) {
    for (const ByteRange& range : rules.failing) {
        if (range.start <= offset && offset < range.end) {
            return offset;
        }
        if (offset < range.start && range.start < end) {
            end = range.start;
        }
    }
    return end;
}

}  // namespace

ReadPlan plan_read(const ReadRules& rules, std::uint64_t offset, std::size_t length) {
    if (rules.gone_at && offset >= *rules.gone_at) {
        return {.bytes = 0, .error = ENXIO};
    }
    std::uint64_t wanted = available_bytes(rules, offset, length);
    if (rules.gone_at) {
        wanted = std::min(wanted, *rules.gone_at - offset);
    }
    if (wanted == 0) {
        return {};
    }
    const std::uint64_t end = readable_until(rules, offset, offset + wanted);
    if (end == offset) {
        return {.bytes = 0, .error = EIO};
    }
    std::uint64_t bytes = end - offset;
    if (rules.max_chunk) {
        bytes = std::min(bytes, *rules.max_chunk);
    }
    return {.bytes = static_cast<std::size_t>(bytes), .error = 0};
}

}  // namespace cardfs
