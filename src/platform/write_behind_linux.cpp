#include <unistd.h>

#include <system_error>
#include <utility>

#include "platform/write_behind.hpp"

namespace quilbex::platform {

WriteBehind::~WriteBehind() {
    if (!flusher_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    flusher_.join();
}

void WriteBehind::wrote(intptr_t handle, uint64_t end) {
    if (end < askedAt_ + stretch) return;
    askedAt_ = end;
    {
        std::lock_guard lock(mutex_);
        handle_ = handle;
        asked_ = true;
    }
    if (flusher_.joinable()) {
        changed_.notify_all();
        return;
    }
    try {
        flusher_ = std::thread([this] { flushWhenAsked(); });
    } catch (const std::system_error&) {
        // No thread to spare: the flush at the end does all of it.
        std::lock_guard lock(mutex_);
        asked_ = false;
    }
}

SystemError WriteBehind::settle() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !asked_ && !flushing_; });
    askedAt_ = 0;
    return std::exchange(failure_, {});
}

// A request that comes while a flush runs is served by one more flush right
// after it, which covers every byte written up to then.
void WriteBehind::flushWhenAsked() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return asked_ || stopping_; });
        if (stopping_) return;
        asked_ = false;
        flushing_ = true;
        const int fd = static_cast<int>(handle_);
        lock.unlock();
        const SystemError error = ::fdatasync(fd) == 0 ? SystemError{} : SystemError::last();
        lock.lock();
        flushing_ = false;
        if (!failure_.any()) failure_ = error;
        changed_.notify_all();
    }
}

}  // namespace quilbex::platform
