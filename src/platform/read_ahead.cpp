#include "platform/read_ahead.hpp"

#include <algorithm>
#include <utility>

namespace quilbex::platform {

ReadAhead::ReadAhead(size_t bufferSize)
    : buffers_{AlignedBuffer(bufferSize, ReadBackFile::alignment), AlignedBuffer(bufferSize, ReadBackFile::alignment)} {}

ReadAhead::~ReadAhead() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
}

SystemError ReadAhead::open(const std::string& path) { return file_.open(path); }

void ReadAhead::allow(uint64_t end) {
    {
        std::lock_guard lock(mutex_);
        allowed_ = std::max(allowed_, end);
        dropAsked_ = true;
    }
    if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
    changed_.notify_all();
}

SystemError ReadAhead::next(std::span<const std::byte>& bytes) {
    std::unique_lock lock(mutex_);
    if (holding_) {
        filled_[taken_].ready = false;
        taken_ ^= 1;
        holding_ = false;
        changed_.notify_all();
    }
    changed_.wait(lock, [this] { return filled_[taken_].ready || (!reading_ && (atEnd_ || position_ >= allowed_)); });
    if (!filled_[taken_].ready) {
        bytes = {};
        return {};
    }
    holding_ = true;
    bytes = filled_[taken_].bytes;
    return filled_[taken_].error;
}

// Fills the buffers in turn, each once the reader gave it back.
void ReadAhead::run() {
    size_t fill = 0;
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stopping_ || (!atEnd_ && position_ < allowed_ && !filled_[fill].ready); });
        if (stopping_) return;
        const bool drop = std::exchange(dropAsked_, false);
        const auto size = static_cast<size_t>(std::min<uint64_t>(buffers_[fill].size(), allowed_ - position_));
        reading_ = true;
        lock.unlock();
        if (drop) file_.dropCached();
        size_t got = 0;
        const SystemError error = file_.read(buffers_[fill].span().first(size), got);
        lock.lock();
        reading_ = false;
        filled_[fill] = {buffers_[fill].span().first(got), error, got > 0 || error.any()};
        position_ += got;
        if (got < size || error.any()) atEnd_ = true;
        fill ^= 1;
        changed_.notify_all();
    }
}

}  // namespace quilbex::platform
