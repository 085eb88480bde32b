#include "card_image.hpp"

#include <cerrno>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace cardfs {
namespace {

int open_read_only(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw std::system_error(errno, std::generic_category(), "cannot open image " + path);
    }
    return fd;
}

// lseek rather than fstat so that block devices report their real size.
std::uint64_t size_of(int fd, const std::string& path) {
    off_t end = ::lseek(fd, 0, SEEK_END);
    if (end < 0) {
        int error = errno;
        ::close(fd);
        throw std::system_error(error, std::generic_category(), "cannot size image " + path);
    }
    return static_cast<std::uint64_t>(end);
}

}  // namespace

CardImage::CardImage(const std::string& path)
    : fd_(open_read_only(path)), size_(size_of(fd_, path)) {}

CardImage::~CardImage() { ::close(fd_); }

ssize_t CardImage::read_at(char* buffer, std::size_t length, std::uint64_t offset) const {
    std::size_t done = 0;
    while (done < length) {
        ssize_t got = ::pread(fd_, buffer + done, length - done,
                              static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return -errno;
        }
        if (got == 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return static_cast<ssize_t>(done);
}

}  // namespace cardfs
