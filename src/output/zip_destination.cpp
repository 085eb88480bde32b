#include "output/zip_destination.hpp"

#include "zip/entry_time.hpp"

namespace quilbex::output {

bool ZipDestination::open(const std::string& path) {
    opened_ = zip_.open(path);
    if (opened_ && checking_) readBack_.emplace(path);
    return opened_;
}

bool ZipDestination::beginFile(const FileHeading& file) {
    // The date comes first: its warnings are due even when the archive
    // refuses the entry.
    zip::EntryDate date = zip::makeFileInfo(file.start, file.storedStart);
    warnings_ = std::move(date.warnings);
    return zip_.beginEntry(file.name, date.dosDate, file.plannedSize);
}

bool ZipDestination::write(std::span<const std::byte> bytes) {
    return zip_.writeCompressed(bytes);
}

// With the check, the entry goes to the disk at once, to be read back while
// the next one is written.
bool ZipDestination::finishFile(const FileEnd& end) {
    if (!zip_.finishEntry(end.length, end.crc)) return false;
    if (!readBack_) return true;
    if (!zip_.flush()) return false;
    readBack_->entryFlushed({zip_.lastFinished()});
    return true;
}

// The entries the archive kept; nothing to read back when it was never made.
CheckTally ZipDestination::finishChecks() {
    if (!readBack_) return {};
    return readBack_->finish(zip_.keptEntries(), zip_.keptDataEnd(), zip_.keptEnd());
}

bool ZipDestination::close() { return zip_.close(); }

platform::SystemError ZipDestination::lastError() const { return zip_.lastError(); }

// With the system's reason for it, when a system call failed.
std::vector<std::string> ZipDestination::failureLines() const {
    std::vector<std::string> lines{"", "Zip archive failure"};
    if (zip_.lastError().any()) lines.push_back(platform::systemErrorLine(zip_.lastError()));
    return lines;
}

}  // namespace quilbex::output
