#include "card/card_device.hpp"

#include <cinttypes>

#include "platform/system_error.hpp"

namespace quilbex::card {

using platform::formatText;
using platform::printSystemError;

namespace {

int64_t cardSizeOf(const platform::DiskGeometry& g) {
    const uint64_t size = static_cast<uint64_t>(g.cylinders) * uint64_t{g.tracksPerCylinder} *
                          uint64_t{g.sectorsPerTrack} * uint64_t{g.bytesPerSector};
    return static_cast<int64_t>(size);
}

void printDriveReport(Console& console, const std::string& drive, const platform::DiskGeometry& g) {
    const uint64_t size = static_cast<uint64_t>(cardSizeOf(g));
    console.out(formatText("Drive path      = %s\n", platform::devicePath(drive).c_str()));
    console.out(formatText("Cylinders       = %" PRId64 "\n", g.cylinders));
    console.out(formatText("Tracks/cylinder = %" PRId32 "\n", static_cast<int32_t>(g.tracksPerCylinder)));
    console.out(formatText("Sectors/track   = %" PRId32 "\n", static_cast<int32_t>(g.sectorsPerTrack)));
    console.out(formatText("Bytes/sector    = %" PRId32 "\n", static_cast<int32_t>(g.bytesPerSector)));
    console.out(formatText("Disk size       = %" PRIu64 " (Bytes)\n               = %.2f (Gb)\n", size,
                           static_cast<double>(size) / 1073741824.0));
}

}  // namespace

int64_t getDriveSize(Console& console, const std::string& drive) {
    const auto query = platform::queryDriveGeometry(drive);
    if (!query.ok) {
        console.out(formatText("Can't determine drive size!. Error %d.\n", query.error.code));
        printSystemError(console, query.error);
        return 0;
    }
    return cardSizeOf(query.geometry);
}

uint32_t getBytesPerSector(Console& console, const std::string& drive) {
    const auto query = platform::queryDriveGeometry(drive);
    if (!query.ok) {
        console.out(formatText("GetDriveGeometry failed. Error %d.\n", query.error.code));
        printSystemError(console, query.error);
        return 0;
    }
    return query.geometry.bytesPerSector;
}

bool printDriveInfo(Console& console, const std::string& drive) {
    const auto query = platform::queryDriveGeometry(drive);
    if (!query.ok) {
        console.out(formatText("Bad drive. Error: %d.\n", query.error.code));
        printSystemError(console, query.error);
        return false;
    }
    printDriveReport(console, drive, query.geometry);
    return true;
}

CardDevice::CardDevice(std::unique_ptr<platform::RawDevice> device, const DiagnosticLog& log)
    : device_(std::move(device)), log_(log) {}

int64_t CardDevice::fileSeek(int64_t offset, bool& attempted) {
    attempted = false;
    if (offset < 0) {
        log_.write("fileSeek", 323, "Internal error: Negative file pointer value: " + std::to_string(offset));
        return 0;
    }
    attempted = true;
    const auto result = device_->seek(offset);
    lastError_ = result.error;
    return result.position;
}

std::optional<CardDevice> openDrive(Console& console, const DiagnosticLog& log, const std::string& drive) {
    auto opened = platform::openRawDevice(drive);
    if (!opened.device) {
        printSystemError(console, opened.error);
        return std::nullopt;
    }
    CardDevice card(std::move(opened.device), log);
    card.cacheNotBypassed_ = opened.cacheNotBypassed;
    return card;
}

}  // namespace quilbex::card
