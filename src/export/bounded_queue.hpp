#pragma once
// A first-in first-out queue of fixed capacity between pipeline threads. A
// producer waits while it is full, a consumer while it is empty. Closing lets
// the consumers drain what is left; cancelling wakes everyone at once and
// drops what is left, which is how a failure stops the pipeline.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>

namespace quilbex::exporting {

template <class T>
class BoundedQueue {
public:
    explicit BoundedQueue(size_t capacity) : capacity_(capacity) {}

    // False when the queue was closed or cancelled: the item was not taken.
    bool push(T item) {
        std::unique_lock lock(mutex_);
        notFull_.wait(lock, [&] { return items_.size() < capacity_ || closed_; });
        if (closed_) return false;
        items_.push_back(std::move(item));
        notEmpty_.notify_one();
        return true;
    }

    // Nothing once cancelled, or once closed and drained.
    std::optional<T> pop() {
        std::unique_lock lock(mutex_);
        notEmpty_.wait(lock, [&] { return !items_.empty() || closed_; });
        return takeFront();
    }

    struct Popped {
        std::optional<T> item;  // as from pop(), unless timed out
        bool timedOut = false;  // true when the queue stayed empty and open
    };

    // pop() that waits no longer than the timeout.
    Popped popFor(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        if (!notEmpty_.wait_for(lock, timeout, [&] { return !items_.empty() || closed_; })) return {{}, true};
        return {takeFront(), false};
    }

    void close() {
        const std::lock_guard lock(mutex_);
        closed_ = true;
        notEmpty_.notify_all();
        notFull_.notify_all();
    }

    void cancel() {
        const std::lock_guard lock(mutex_);
        closed_ = true;
        items_.clear();
        notEmpty_.notify_all();
        notFull_.notify_all();
    }

private:
    // Called with the lock held.
    std::optional<T> takeFront() {
        if (items_.empty()) return std::nullopt;
        T item = std::move(items_.front());
        items_.pop_front();
        notFull_.notify_one();
        return item;
    }

    std::mutex mutex_;
    std::condition_variable notFull_;
    std::condition_variable notEmpty_;
    std::deque<T> items_;  // at most capacity_
    size_t capacity_;
    bool closed_ = false;  // no push succeeds once set
};

}  // namespace quilbex::exporting
