#pragma once

#include "card_image.hpp"
#include "read_log.hpp"
#include "read_plan.hpp"
#include "throttle.hpp"

#include <chrono>
#include <memory>

namespace cardfs {

// Everything one mount needs to answer reads: the image and the ways the
// simulated card is slow or broken. Shared by all FUSE threads; every member
// is either immutable after start-up or synchronises itself.
struct CardServer {
    CardImage image;
    ReadRules rules;
    std::unique_ptr<Throttle> throttle;           // null: full speed
    std::chrono::milliseconds delay{0};
    std::unique_ptr<ReadLog> log;                 // null: no trace

    // Answers a FUSE read: bytes placed in `buffer`, or -errno.
    long long serve_read(char* buffer, std::size_t length, std::uint64_t offset) const;

    // Notes an open that asked for write access, which is always refused.
    void note_refused_open(int flags) const;
};

}  // namespace cardfs
