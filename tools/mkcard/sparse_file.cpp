#include "sparse_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "error.hpp"

namespace mkcard {

SparseFile::SparseFile(const std::string& path, std::uint64_t limit)
    : path_(path), limit_(limit) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) fail("cannot create");
}

SparseFile::~SparseFile() {
    if (fd_ >= 0) ::close(fd_);
}

void SparseFile::fail(const std::string& what) const {
    throw Error(what + " '" + path_ + "': " + std::strerror(errno));
}

void SparseFile::write_at(std::span<const std::uint8_t> bytes, std::uint64_t offset) {
    if (offset >= limit_) return;
    std::size_t left = static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), limit_ - offset));
    const std::uint8_t* p = bytes.data();
    while (left > 0) {
        const ssize_t n = ::pwrite(fd_, p, left, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) fail("cannot write");
        p += n;
        offset += static_cast<std::uint64_t>(n);
        left -= static_cast<std::size_t>(n);
    }
}

void SparseFile::finish(std::uint64_t length) {
    if (::ftruncate(fd_, static_cast<off_t>(length)) != 0) fail("cannot set length of");
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) fail("cannot close");
}

}  // namespace mkcard
