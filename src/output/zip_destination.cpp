#include "output/zip_destination.hpp"

#include "zip/entry_time.hpp"

namespace quilbex::output {

bool ZipDestination::open(const std::string& path) { return zip_.open(path, zip::ZipWriter::createMode); }

bool ZipDestination::beginFile(const FileHeading& file) {
    // The date comes first: its warnings are due even when the archive
    // refuses the entry.
    zip::EntryDate date = zip::makeFileInfo(file.start, file.storedStart);
    warnings_ = std::move(date.warnings);
    return zip_.beginEntry(file.name, date.dosDate, file.plannedSize);
}

bool ZipDestination::write(std::span<const std::byte> bytes) { return zip_.writeCompressed(bytes); }

bool ZipDestination::finishFile(uint64_t length, uint32_t crc) { return zip_.finishEntry(length, crc); }

bool ZipDestination::close() { return zip_.close(); }

// The archive keeps no cause of its failures yet.
platform::SystemError ZipDestination::lastError() const {
    return zip_.lastError() == zip::ZipWriter::noError ? platform::SystemError{}
                                                         : platform::SystemError::native(zip_.lastError());
}

}  // namespace quilbex::output
