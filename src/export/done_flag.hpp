#pragma once
// A one-way signal from a compressor to the writer: "this chunk is ready".
// A mutex and a condition variable rather than std::atomic::wait, whose
// fallback where the system has no futex (Windows) can lose a wake-up in
// GCC 12's library and leave the writer waiting for ever.

#include <condition_variable>
#include <mutex>

namespace quilbex::exporting {

class DoneFlag {
public:
    void reset() {
        const std::lock_guard lock(mutex_);
        done_ = false;
    }

    // Publishes everything written before it to the thread that waits.
    void set() {
        {
            const std::lock_guard lock(mutex_);
            done_ = true;
        }
        ready_.notify_one();
    }

    void wait() const {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [this] { return done_; });
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable ready_;
    bool done_ = false;
};

}  // namespace quilbex::exporting
