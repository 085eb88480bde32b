#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>

#include "platform/archive_file.hpp"

namespace quilbex::platform {
namespace {

// Linux moves at most about 2 GiB per call.
constexpr size_t largestTransfer = size_t{1} << 30;

// Calls transfer(done, piece) until `size` bytes are moved or a call moves
// none; returns how many were.
template <typename Transfer>
size_t transferAll(size_t size, Transfer transfer) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = transfer(done, std::min(size - done, largestTransfer));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    return done;
}

}  // namespace

std::unique_ptr<ArchiveFile> ArchiveFile::create(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    return std::unique_ptr<ArchiveFile>(new ArchiveFile(fd));
}

std::unique_ptr<ArchiveFile> ArchiveFile::openExisting(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return nullptr;
    std::unique_ptr<ArchiveFile> file(new ArchiveFile(fd));
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
    return file;
}

ArchiveFile::~ArchiveFile() { close(); }

size_t ArchiveFile::writeAt(uint64_t position, std::span<const std::byte> bytes) {
    return transferAll(bytes.size(), [&](size_t done, size_t piece) {
        return ::pwrite(static_cast<int>(handle_), bytes.data() + done, piece, static_cast<off_t>(position + done));
    });
}

bool ArchiveFile::readAt(uint64_t position, std::span<std::byte> bytes) {
    return transferAll(bytes.size(), [&](size_t done, size_t piece) {
        return ::pread(static_cast<int>(handle_), bytes.data() + done, piece, static_cast<off_t>(position + done));
    }) == bytes.size();
}

std::optional<uint64_t> ArchiveFile::size() {
    struct stat info {};
    if (::fstat(static_cast<int>(handle_), &info) != 0) return std::nullopt;
    return static_cast<uint64_t>(info.st_size);
}

bool ArchiveFile::truncate(uint64_t length) {
    return ::ftruncate(static_cast<int>(handle_), static_cast<off_t>(length)) == 0;
}

bool ArchiveFile::close() {
    if (handle_ == closedHandle) return true;
    // The descriptor is gone whatever close says, so it is never retried.
    const int closed = ::close(static_cast<int>(handle_));
    handle_ = closedHandle;
    return closed == 0;
}

void letWritesFailAtFileSizeLimit() { std::signal(SIGXFSZ, SIG_IGN); }

}  // namespace quilbex::platform
