#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>

#include "platform/archive_file.hpp"
#include "platform/folder.hpp"
#include "platform/ownership.hpp"

namespace quilbex::platform {

// Positions past 2 GiB need a 64-bit off_t also on 32-bit systems.
static_assert(sizeof(off_t) == 8, "build with _FILE_OFFSET_BITS=64");

namespace {

// Linux moves at most about 2 GiB per call.
constexpr size_t largestTransfer = size_t{1} << 30;

}  // namespace

std::unique_ptr<ArchiveFile> ArchiveFile::create(const std::string& path, SystemError& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = SystemError::last();
        // The exclusive create says "File exists" of a folder too, which
        // tells the user nothing about what is wrong with the path.
        struct stat status {};
        if (errno == EEXIST && ::lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
            error = SystemError::posix(EISDIR);
        return nullptr;
    }
    handOverHandle(fd);
    return std::unique_ptr<ArchiveFile>(new ArchiveFile(fd, folderOf(path)));
}

ArchiveFile::~ArchiveFile() { close(); }

// A write that moves nothing without an error is taken as the end of the
// room; the error stays as it was.
size_t ArchiveFile::writeAt(uint64_t position, std::span<const std::byte> bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(static_cast<int>(handle_), bytes.data() + done,
                                   std::min(bytes.size() - done, largestTransfer), static_cast<off_t>(position + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) failed();
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    writeBehind_.wrote(handle_, position + done);
    return done;
}

bool ArchiveFile::truncate(uint64_t length) {
    return ::ftruncate(static_cast<int>(handle_), static_cast<off_t>(length)) == 0 || failed();
}

bool ArchiveFile::flush() {
    const SystemError behind = writeBehind_.settle();
    if (::fsync(static_cast<int>(handle_)) != 0) return failed();
    return passOn(behind) && passOn(flushFolder(folder_));
}

bool ArchiveFile::close() {
    if (handle_ == closedHandle) return true;
    const SystemError behind = writeBehind_.settle();
    // The descriptor is gone whatever close says, so it is never retried.
    const int closed = ::close(static_cast<int>(handle_));
    handle_ = closedHandle;
    return (closed == 0 || failed()) && passOn(behind);
}

bool ArchiveFile::failed() {
    lastError_ = SystemError::last();
    return false;
}

void letWritesFailAtFileSizeLimit() { std::signal(SIGXFSZ, SIG_IGN); }

}  // namespace quilbex::platform
