#pragma once
// The SHA-256 of a stream of bytes, worked out on a thread of its own while
// the caller does its other work on the same bytes: the zip's check
// inflates what it reads back, and the archive's hash would otherwise add
// its time to every read.

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <span>
#include <thread>

#include "platform/sha256.hpp"

namespace quilbex::output {

// Used by one thread; its hashing thread starts with the first bytes.
class HashBeside {
public:
    HashBeside() = default;
    ~HashBeside();  // waits for the bytes in hand, then ends the thread
    HashBeside(const HashBeside&) = delete;
    HashBeside& operator=(const HashBeside&) = delete;

    // Starts hashing the bytes, which must stay as they are until wait().
    void add(std::span<const std::byte> bytes);
    // Returns once the bytes of the last add() are hashed.
    void wait();
    // The digest of every byte added since the last one; waits first.
    platform::Sha256Digest finish();

private:
    void run();

    platform::Sha256 hash_;  // the hashing thread's while bytes_ is set
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread hasher_;
    std::span<const std::byte> bytes_;  // in hand, empty when none
    bool busy_ = false;
    bool stopping_ = false;
};

}  // namespace quilbex::output
