#include <windows.h>
#include <winioctl.h>

#include <cctype>
#include <cstdio>

#include "platform/raw_device.hpp"

namespace quilbex::platform {
namespace {

constexpr uint32_t imageSectorSize = 512;
// Unbuffered reads need sector-aligned buffers; a page covers every sector size.
constexpr size_t pageAlignment = 4096;
constexpr size_t devicePathCapacity = 128;
// ERROR_NO_SUCH_DEVICE, which mingw-w64's headers lack.
constexpr DWORD errorNoSuchDevice = 433;

// "E:" and nothing else names a volume; any other argument is an image file.
bool isDriveLetter(const std::string& drive) {
    return drive.size() == 2 && std::isalpha(static_cast<unsigned char>(drive[0])) && drive[1] == ':';
}

class Win32Device final : public RawDevice {
public:
    explicit Win32Device(HANDLE handle) : handle_(handle) {}
    ~Win32Device() override { CloseHandle(handle_); }
    Win32Device(const Win32Device&) = delete;
    Win32Device& operator=(const Win32Device&) = delete;

    SeekResult seek(int64_t offset) override {
        LONG high = static_cast<LONG>(static_cast<uint64_t>(offset) >> 32);
        // A low half of all ones is a valid position too: only a set error
        // code tells a failure, so a stale one must not linger.
        SetLastError(NO_ERROR);
        const DWORD low = SetFilePointer(handle_, static_cast<LONG>(offset & 0xFFFFFFFF), &high, FILE_BEGIN);
        if (low == INVALID_SET_FILE_POINTER) {
            const DWORD error = GetLastError();
            if (error != NO_ERROR) return {-1, SystemError::win32(error)};
        }
        const uint64_t position = static_cast<uint64_t>(static_cast<DWORD>(high)) << 32 | low;
        return {static_cast<int64_t>(position), {}};
    }

    ReadResult read(std::byte* destination, uint32_t length) override {
        DWORD count = 0;
        if (!ReadFile(handle_, destination, length, &count, nullptr))
            return {false, static_cast<uint32_t>(count), SystemError::last()};
        return {true, static_cast<uint32_t>(count), {}};
    }

    size_t bufferAlignment() const override { return pageAlignment; }

private:
    HANDLE handle_;
};

// Closes the handle on every way out of a query.
struct QueryHandle {
    HANDLE handle;
    ~QueryHandle() {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
};

GeometryQuery failedQuery() { return {false, {}, SystemError::last()}; }

GeometryQuery volumeGeometry(HANDLE handle) {
    DISK_GEOMETRY record{};
    DWORD returned = 0;
    if (!DeviceIoControl(handle, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &record, sizeof record, &returned,
                         nullptr))
        return failedQuery();
    DiskGeometry geometry;
    geometry.cylinders = record.Cylinders.QuadPart;
    geometry.tracksPerCylinder = record.TracksPerCylinder;
    geometry.sectorsPerTrack = record.SectorsPerTrack;
    geometry.bytesPerSector = record.BytesPerSector;
    return {true, geometry, {}};
}

// An image has no geometry of its own: it is described as one track of
// 512-byte sectors per cylinder, so the product is its size in whole sectors.
GeometryQuery imageGeometry(HANDLE handle) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handle, &size)) return failedQuery();
    DiskGeometry geometry;
    geometry.cylinders = size.QuadPart / imageSectorSize;
    geometry.tracksPerCylinder = 1;
    geometry.sectorsPerTrack = 1;
    geometry.bytesPerSector = imageSectorSize;
    return {true, geometry, {}};
}

}  // namespace

std::string devicePath(const std::string& drive) {
    if (!isDriveLetter(drive)) return drive;
    char path[devicePathCapacity];
    std::snprintf(path, sizeof path, "\\\\.\\%s", drive.c_str());
    return path;
}

GeometryQuery queryDriveGeometry(const std::string& drive) {
    // No access rights: a query needs none, and the open works without
    // administrator rights. A directory cannot be opened this way and fails.
    const QueryHandle query{CreateFileA(devicePath(drive).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, 0, nullptr)};
    if (query.handle == INVALID_HANDLE_VALUE) return failedQuery();
    return isDriveLetter(drive) ? volumeGeometry(query.handle) : imageGeometry(query.handle);
}

OpenResult openRawDevice(const std::string& drive) {
    // The card is read once: a volume's blocks go straight to our buffers,
    // an image file is read through the cache front to back.
    const DWORD flags = isDriveLetter(drive) ? FILE_FLAG_NO_BUFFERING | FILE_FLAG_RANDOM_ACCESS
                                             : FILE_FLAG_SEQUENTIAL_SCAN;
    const HANDLE handle =
        CreateFileA(devicePath(drive).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return {nullptr, SystemError::last()};
    return {std::make_unique<Win32Device>(handle), {}};
}

SystemError endOfDataError() { return SystemError::win32(ERROR_HANDLE_EOF); }

bool meansCardGone(SystemError error) {
    if (error.domain != SystemError::Domain::win32) return false;
    const auto code = static_cast<DWORD>(error.code);
    return code == ERROR_NOT_READY || code == ERROR_DEVICE_NOT_CONNECTED || code == errorNoSuchDevice;
}

}  // namespace quilbex::platform
