#include "output/hash_beside.hpp"

namespace quilbex::output {

HashBeside::~HashBeside() {
    if (!hasher_.joinable()) return;
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !busy_; });
        stopping_ = true;
    }
    changed_.notify_all();
    hasher_.join();
}

void HashBeside::add(std::span<const std::byte> bytes) {
    wait();
    {
        std::lock_guard lock(mutex_);
        bytes_ = bytes;
        busy_ = true;
    }
    if (!hasher_.joinable()) hasher_ = std::thread([this] { run(); });
    changed_.notify_all();
}

void HashBeside::wait() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !busy_; });
}

platform::Sha256Digest HashBeside::finish() {
    wait();
    return hash_.finish();
}

void HashBeside::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return busy_ || stopping_; });
        if (!busy_) return;
        const auto bytes = bytes_;
        lock.unlock();
        hash_.add(bytes);
        lock.lock();
        busy_ = false;
        changed_.notify_all();
    }
}

}  // namespace quilbex::output
