#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/read_back_file.hpp"

namespace quilbex::platform {
namespace {

constexpr int flags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC;

}  // namespace

ReadBackFile::~ReadBackFile() { close(); }

// Reads bypass the cache where the file system lets them (O_DIRECT): the
// disk's bytes come straight into the buffer, with no copy and no cache
// filled with pages nobody reads again. Where it does not (tmpfs, some
// network and FUSE file systems), the pages of a flushed file are clean: the
// advice drops them, so every read goes to the disk (read-ahead then fills
// the cache from the disk).
SystemError ReadBackFile::open(const std::string& path) {
    close();
    path_ = path;
    int fd = ::open(path.c_str(), flags | O_DIRECT);
    direct_ = fd >= 0;
    if (fd < 0 && errno == EINVAL) fd = ::open(path.c_str(), flags);
    if (fd < 0) return SystemError::last();
    handle_ = fd;
    return direct_ ? SystemError{} : adviseDropped();
}

// A file system may take O_DIRECT at the open and refuse it at the reads (a
// FUSE one that opens its own files with it): the file is then opened anew
// without it, if it is still the same file, and read on from where it was
// through a cache dropped first.
SystemError ReadBackFile::readBuffered() {
    const int old = static_cast<int>(handle_);
    const off_t at = ::lseek(old, 0, SEEK_CUR);
    struct stat was {};
    if (at < 0 || ::fstat(old, &was) != 0) return SystemError::last();
    const int fd = ::open(path_.c_str(), flags);
    if (fd < 0) return SystemError::last();
    ::close(old);
    handle_ = fd;
    direct_ = false;
    struct stat is {};
    if (::fstat(fd, &is) != 0 || ::lseek(fd, at, SEEK_SET) < 0) return SystemError::last();
    if (is.st_dev != was.st_dev || is.st_ino != was.st_ino) return SystemError::posix(ESTALE);
    return adviseDropped();
}

SystemError ReadBackFile::adviseDropped() {
    const int fd = static_cast<int>(handle_);
    if (const int error = ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED); error != 0) return SystemError::posix(error);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return {};
}

SystemError ReadBackFile::read(std::span<std::byte> buffer, size_t& got) {
    got = 0;
    while (got < buffer.size()) {
        const ssize_t n = ::read(static_cast<int>(handle_), buffer.data() + got, buffer.size() - got);
        if (n < 0 && errno == EINVAL && direct_) {
            if (const auto error = readBuffered(); error.any()) return error;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return SystemError::last();
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    return {};
}

void ReadBackFile::dropCached() {
    if (!direct_) ::posix_fadvise(static_cast<int>(handle_), 0, 0, POSIX_FADV_DONTNEED);
}

// What was read back leaves the cache too: it is no use to anyone later.
void ReadBackFile::close() {
    if (handle_ == closedHandle) return;
    ::posix_fadvise(static_cast<int>(handle_), 0, 0, POSIX_FADV_DONTNEED);
    ::close(static_cast<int>(handle_));
    handle_ = closedHandle;
}

}  // namespace quilbex::platform
