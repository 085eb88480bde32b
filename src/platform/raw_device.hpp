#pragma once
// The card as the operating system offers it: a block device or an image file
// of one, opened for reading only. The drive argument names it; the geometry
// query and the read opening are separate, as the tool asks for the card's
// size before it opens the card for reading.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/system_error.hpp"

namespace quilbex::platform {

struct DiskGeometry {
    int64_t cylinders = 0;
    uint32_t tracksPerCylinder = 0;
    uint32_t sectorsPerTrack = 0;
    uint32_t bytesPerSector = 0;
};

struct GeometryQuery {
    bool ok = false;
    DiskGeometry geometry;
    SystemError error;  // when !ok
};

struct SeekResult {
    int64_t position = -1;  // -1 when the move failed
    SystemError error;
};

struct ReadResult {
    bool ok = false;
    uint32_t bytes = 0;  // bytes transferred; 0 with ok means no more data
    SystemError error;
};

// The path the platform opens for a drive argument.
std::string devicePath(const std::string& drive);

// Opens the device for a query only, asks its geometry, closes it again.
GeometryQuery queryDriveGeometry(const std::string& drive);

// An open card. Reads land in buffers aligned to bufferAlignment() whose
// lengths are whole sectors, at whole-sector offsets.
class RawDevice {
public:
    virtual ~RawDevice() = default;
    virtual SeekResult seek(int64_t offset) = 0;
    virtual ReadResult read(std::byte* destination, uint32_t length) = 0;
    virtual size_t bufferAlignment() const = 0;
};

struct OpenResult {
    std::unique_ptr<RawDevice> device;  // null on failure
    SystemError error;
    // A block device that refused to be read past the system's cache: the
    // cache reads whole pages, so one unreadable sector fails its page.
    bool cacheNotBypassed = false;
};

// Opens the card for reading only, bypassing the system's cache where the
// device allows it.
OpenResult openRawDevice(const std::string& drive);

// The platform's error for a read that found no more data before the count
// it was asked for, for the system error text.
SystemError endOfDataError();

// Whether a failed read's error says that the card itself is gone (removed,
// no medium, the device vanished), so that no later read can succeed.
bool meansCardGone(SystemError error);

}  // namespace quilbex::platform
