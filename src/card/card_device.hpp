#pragma once
// The card as a raw device: its size and sector size from the drive geometry,
// the drive-information report, the read opening and absolute seeks.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/console.hpp"
#include "platform/diagnostic_log.hpp"
#include "platform/raw_device.hpp"

namespace quilbex::card {

using platform::Console;
using platform::DiagnosticLog;

// Card size in bytes (cylinders x tracks x sectors x bytes per sector); 0
// when the geometry cannot be had (after its message) or has a zero factor.
int64_t getDriveSize(Console& console, const std::string& drive);

// Sector size in bytes; 0 when the geometry cannot be had, after its message.
uint32_t getBytesPerSector(Console& console, const std::string& drive);

// Prints the geometry report; false after the failure message.
bool printDriveInfo(Console& console, const std::string& drive);

class CardDevice {
public:
    CardDevice(std::unique_ptr<platform::RawDevice> device, const DiagnosticLog& log);

    // Moves to an absolute offset. A negative offset is refused: attempted
    // stays false and 0 comes back. Otherwise the new position, or -1 when
    // the move failed (lastError() says why).
    int64_t fileSeek(int64_t offset, bool& attempted);

    platform::SystemError lastError() const { return lastError_; }
    platform::RawDevice& raw() { return *device_; }
    // Reads go through the system's cache, a page at a time, though the card
    // is a block device.
    bool cacheNotBypassed() const { return cacheNotBypassed_; }

private:
    friend std::optional<CardDevice> openDrive(Console&, const DiagnosticLog&, const std::string&);

    std::unique_ptr<platform::RawDevice> device_;
    bool cacheNotBypassed_ = false;
    const DiagnosticLog& log_;
    platform::SystemError lastError_;
};

// Opens the card for reading; nothing after printing the system error text.
std::optional<CardDevice> openDrive(Console& console, const DiagnosticLog& log, const std::string& drive);

}  // namespace quilbex::card
