#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/read_back_file.hpp"

namespace quilbex::platform {

ReadBackFile::~ReadBackFile() { close(); }

// The pages of a flushed file are clean: the advice drops them, so every
// read goes to the disk (read-ahead then fills the cache from the disk).
SystemError ReadBackFile::open(const std::string& path) {
    close();
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return SystemError::last();
    handle_ = fd;
    if (const int error = ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED); error != 0) return SystemError::posix(error);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return {};
}

SystemError ReadBackFile::read(std::span<std::byte> buffer, size_t& got) {
    got = 0;
    while (got < buffer.size()) {
        const ssize_t n = ::read(static_cast<int>(handle_), buffer.data() + got, buffer.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return SystemError::last();
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    return {};
}

// What was read back leaves the cache too: it is no use to anyone later.
void ReadBackFile::close() {
    if (handle_ == closedHandle) return;
    ::posix_fadvise(static_cast<int>(handle_), 0, 0, POSIX_FADV_DONTNEED);
    ::close(static_cast<int>(handle_));
    handle_ = closedHandle;
}

}  // namespace quilbex::platform
