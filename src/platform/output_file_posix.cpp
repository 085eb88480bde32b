#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

#include "platform/output_file.hpp"
#include "platform/ownership.hpp"

namespace quilbex::platform {
namespace {

// Linux moves at most about 2 GiB per call.
constexpr size_t largestTransfer = size_t{1} << 30;

}  // namespace

OutputFile::~OutputFile() { close(); }

SystemError OutputFile::create(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return SystemError::last();
    handOverHandle(fd);
    handle_ = fd;
    length_ = 0;
    return {};
}

SystemError OutputFile::write(std::span<const std::byte> bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(static_cast<int>(handle_), bytes.data() + done,
                                  std::min(bytes.size() - done, largestTransfer));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return SystemError::last();
        if (n == 0) return SystemError::posix(ENOSPC);
        done += static_cast<size_t>(n);
        length_ += static_cast<size_t>(n);
    }
    writeBehind_.wrote(handle_, length_);
    return {};
}

SystemError OutputFile::setModificationTime(const CalendarTime& local) {
    // The same rule of valid dates as the zip entry's date.
    if (toDosDateTime(local).fileTimeError != 0) return {};
    std::tm fields{};
    fields.tm_year = local.year - 1900;
    fields.tm_mon = local.month - 1;
    fields.tm_mday = local.day;
    fields.tm_hour = local.hour;
    fields.tm_min = local.minute;
    fields.tm_sec = local.second;
    fields.tm_isdst = -1;  // as the zone had it on that day
    const std::time_t seconds = std::mktime(&fields);
    if (seconds == static_cast<std::time_t>(-1)) return SystemError::posix(EOVERFLOW);
    const struct timespec times[2] = {{0, UTIME_NOW}, {seconds, 0}};
    if (::futimens(static_cast<int>(handle_), times) != 0) return SystemError::last();
    return {};
}

SystemError OutputFile::flush() {
    const SystemError behind = writeBehind_.settle();
    if (::fsync(static_cast<int>(handle_)) != 0) return SystemError::last();
    return behind;
}

SystemError OutputFile::close() {
    if (handle_ == closedHandle) return {};
    const SystemError behind = writeBehind_.settle();
    // The descriptor is gone whatever close says, so it is never retried.
    const int closed = ::close(static_cast<int>(handle_));
    handle_ = closedHandle;
    if (closed != 0) return SystemError::last();
    return behind;
}

}  // namespace quilbex::platform
