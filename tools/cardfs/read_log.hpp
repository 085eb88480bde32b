#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace cardfs {

// Append-only trace of what clients asked for, read by tests. Each event is
// one line written with a single write(2) on an O_APPEND descriptor, so lines
// from concurrent FUSE threads never interleave and are visible at once.
//   "OFFSET LENGTH RESULT"   a read; RESULT is bytes served or -errno
//   "open-refused FLAGS"     an open asking for write access (octal flags)
class ReadLog {
public:
    explicit ReadLog(const std::string& path);  // throws std::system_error
    ~ReadLog();
    ReadLog(const ReadLog&) = delete;
    ReadLog& operator=(const ReadLog&) = delete;

    void record_read(std::uint64_t offset, std::size_t length, long long result) const;
    void record_refused_open(int flags) const;

private:
    void append(const char* line, std::size_t size) const;

    int fd_;
};

}  // namespace cardfs
