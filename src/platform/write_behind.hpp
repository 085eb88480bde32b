#pragma once
// Flushes a file's new bytes to the disk in the background while the next
// ones are being written. A flush costs about as long as the disk takes for
// the bytes written since the previous one; left to the end, it stalls the
// export for seconds after the last byte (and before every rename in a
// folder export). Flushed along the way, it overlaps with reading the card,
// and the flush at the end waits only for the last stretch.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "platform/system_error.hpp"

namespace quilbex::platform {

class WriteBehind {
public:
    WriteBehind() = default;
    ~WriteBehind();  // waits for a flush under way
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;

    // Called by the writing thread after the bytes of `handle` before `end`
    // were written; asks for a flush once a stretch has passed since the
    // last one. Never waits for the disk.
    void wrote(intptr_t handle, uint64_t end);
    // Waits until no flush runs or is asked for; returns the first failure
    // of the flushes since the last call, which the caller must report: a
    // later flush of the same file may no longer see it. The next file can
    // then use the same object. To be called before the handle is closed.
    SystemError settle();

private:
    // Large enough that the flushes' fixed cost is small, small enough that
    // the one at the end is short, also for files of a few seconds of sound.
    static constexpr uint64_t stretch = uint64_t{4} << 20;

    void flushWhenAsked();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread flusher_;        // started at the first stretch
    intptr_t handle_ = 0;        // the file to flush; valid while asked_ or flushing_
    bool asked_ = false;         // a flush is wanted
    bool flushing_ = false;      // a flush runs
    bool stopping_ = false;      // the flusher ends
    SystemError failure_;        // the first failed flush since settle()
    uint64_t askedAt_ = 0;      // writing thread only: the end at the last request
};

}  // namespace quilbex::platform
