#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

namespace cardfs {

// The image being served, opened read-only once at start-up so that the
// server keeps working after daemonising changes the working directory.
// A block device works as well as a regular file.
class CardImage {
public:
    explicit CardImage(const std::string& path);  // throws std::system_error
    ~CardImage();
    CardImage(const CardImage&) = delete;
    CardImage& operator=(const CardImage&) = delete;

    std::uint64_t size() const { return size_; }

    // Fills `buffer` with `length` bytes from `offset`, fewer only where the
    // image ends. Returns the byte count or -errno.
    ssize_t read_at(char* buffer, std::size_t length, std::uint64_t offset) const;

private:
    int fd_;
    std::uint64_t size_;
};

}  // namespace cardfs
