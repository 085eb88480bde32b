#pragma once
// A file read back from the disk (platform/read_back_file) one buffer ahead
// of its reader, on a thread of its own: reads that bypass the cache get no
// read-ahead from the system, and each would otherwise leave the disk idle
// while the bytes before it are hashed. Memory: two buffers.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <thread>

#include "platform/aligned_buffer.hpp"
#include "platform/read_back_file.hpp"

namespace quilbex::platform {

// Used by one reading thread.
class ReadAhead {
public:
    explicit ReadAhead(size_t bufferSize = size_t{2} << 20);
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // Opens the file; nothing is read before allow().
    SystemError open(const std::string& path);
    // Lets the reads go on up to byte `end` of the file (a multiple of
    // ReadBackFile::alignment, or past the file's end): bytes after it may
    // still be written. The cached copy of the file is dropped first.
    void allow(uint64_t end);
    // The next bytes up to the allowed end, valid until the next call;
    // empty at the allowed end or the file's end.
    SystemError next(std::span<const std::byte>& bytes);

private:
    struct Filled {
        std::span<const std::byte> bytes;
        SystemError error;
        bool ready = false;
    };

    void run();

    ReadBackFile file_;
    AlignedBuffer buffers_[2];
    Filled filled_[2];
    size_t taken_ = 0;  // the buffer the reader holds, or is to get next
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread thread_;
    uint64_t allowed_ = 0;
    uint64_t position_ = 0;   // read up to here
    bool holding_ = false;    // the reader holds buffer taken_
    bool reading_ = false;    // the thread is reading into a buffer
    bool dropAsked_ = false;  // the cache is to be dropped before the next read
    bool atEnd_ = false;      // the file ended, or a read failed
    bool stopping_ = false;
};

}  // namespace quilbex::platform
