#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/raw_device.hpp"

namespace quilbex::platform {
namespace {

constexpr uint32_t imageSectorSize = 512;
constexpr size_t pageAlignment = 4096;

class LinuxDevice final : public RawDevice {
public:
    explicit LinuxDevice(int fd) : fd_(fd) {}
    ~LinuxDevice() override { ::close(fd_); }
    LinuxDevice(const LinuxDevice&) = delete;
    LinuxDevice& operator=(const LinuxDevice&) = delete;

    SeekResult seek(int64_t offset) override {
        const off_t position = ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET);
        if (position < 0) return {-1, SystemError::last()};
        return {static_cast<int64_t>(position), {}};
    }

    ReadResult read(std::byte* destination, uint32_t length) override {
        ssize_t count;
        do {
            count = ::read(fd_, destination, length);
        } while (count < 0 && errno == EINTR);
        if (count < 0) return {false, 0, SystemError::last()};
        return {true, static_cast<uint32_t>(count), {}};
    }

    size_t bufferAlignment() const override { return pageAlignment; }

private:
    int fd_;
};

// Closes the descriptor on every way out of a query.
struct QueryHandle {
    int fd;
    ~QueryHandle() {
        if (fd >= 0) ::close(fd);
    }
};

GeometryQuery geometryOf(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return {false, {}, SystemError::last()};
    uint64_t size = 0;
    uint32_t sectorSize = imageSectorSize;
    if (S_ISREG(info.st_mode)) {
        size = static_cast<uint64_t>(info.st_size);
    } else if (S_ISBLK(info.st_mode)) {
        int logicalSize = 0;
        if (::ioctl(fd, BLKSSZGET, &logicalSize) != 0) return {false, {}, SystemError::last()};
        if (::ioctl(fd, BLKGETSIZE64, &size) != 0) return {false, {}, SystemError::last()};
        sectorSize = static_cast<uint32_t>(logicalSize);
    } else {
        return {false, {}, SystemError::posix(S_ISDIR(info.st_mode) ? EISDIR : ENOTBLK)};
    }
    DiskGeometry geometry;
    geometry.cylinders = sectorSize == 0 ? 0 : static_cast<int64_t>(size / sectorSize);
    geometry.tracksPerCylinder = 1;
    geometry.sectorsPerTrack = 1;
    geometry.bytesPerSector = sectorSize;
    return {true, geometry, {}};
}

}  // namespace

std::string devicePath(const std::string& drive) { return drive; }

GeometryQuery queryDriveGeometry(const std::string& drive) {
    // Non-blocking, so that a FIFO named by mistake is refused, not waited on.
    const QueryHandle handle{::open(devicePath(drive).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
    if (handle.fd < 0) return {false, {}, SystemError::last()};
    return geometryOf(handle.fd);
}

OpenResult openRawDevice(const std::string& drive) {
    const int fd = ::open(devicePath(drive).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {nullptr, SystemError::last()};
    struct stat info {};
    bool cacheNotBypassed = false;
    if (::fstat(fd, &info) == 0 && S_ISBLK(info.st_mode)) {
        // The card is read once: its blocks go straight to our buffers.
        const int flags = ::fcntl(fd, F_GETFL);
        cacheNotBypassed = flags < 0 || ::fcntl(fd, F_SETFL, flags | O_DIRECT) != 0;
    } else {
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    }
    return {std::make_unique<LinuxDevice>(fd), {}, cacheNotBypassed};
}

SystemError endOfDataError() { return SystemError::posix(ENODATA); }

bool meansCardGone(SystemError error) {
    return error.domain == SystemError::Domain::posix &&
           (error.code == ENODEV || error.code == ENXIO || error.code == ENOMEDIUM);
}

}  // namespace quilbex::platform
