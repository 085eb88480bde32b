#include "export/entry_writer.hpp"

#include <zlib.h>

#include "output/recording_name.hpp"
#include "platform/system_error.hpp"

namespace quilbex::exporting {

using Reason = RecordingEnd::Reason;

EntryWriter::EntryWriter(const scan::RecordingTable& table, output::Destination& destination, ProgressEvents& progress,
                         RescueTally& rescue, platform::Console& console, const platform::DiagnosticLog& log)
    : table_(table), destination_(destination), progress_(progress), rescue_(rescue), console_(console), log_(log) {}

bool EntryWriter::take(const WriterTask& task) {
    if (!task.chunk) {
        reportSkipped(task.recording);
        return true;
    }
    const Chunk& chunk = *task.chunk;
    chunk.compressed.wait();
    if (chunk.first) beginFile(chunk.file);
    length_ += chunk.data.size();
    progress_.advance(chunk.data.size());
    if (chunk.damage.sectors.any()) rescue_.addBlock(chunk.damage);
    if (chunk.fileDamage.sectors.any()) rescue_.addToFile(chunk.fileDamage);
    return chunk.last ? finishEntry(chunk) : continueEntry(chunk);
}

void EntryWriter::beginFile(const output::PlannedFile& file) {
    number_ = static_cast<int32_t>(file.index + 1);
    name_ = file.heading.name;
    plannedLength_ = file.heading.plannedSize;
    begun_ = destination_.beginFile(file.heading);
    warnings_ = destination_.fileWarnings();
    length_ = 0;
    crc_ = 0;
    progress_.begin(number_, name_);
    rescue_.beginFile(file.recording, name_);
}

bool EntryWriter::continueEntry(const Chunk& chunk) {
    // An entry the archive refused is still read to its end, so that its
    // messages come out as they would had it been read whole first.
    if (!begun_ || write(chunk)) return true;
    // Stopping now leaves the rest of the recording unread: its length is
    // the planned one.
    reportRecordingRead({}, plannedLength_);
    reportAddFailure();
    return false;
}

bool EntryWriter::finishEntry(const Chunk& chunk) {
    const Reason reason = chunk.end.reason;
    // Reading stopped inside the file: it is stored, but announced no more
    // than it would have been had the export ended at that read.
    const bool readingStopped = reason == Reason::readFailed || reason == Reason::interrupted;
    if (!readingStopped) reportRecordingRead(chunk.end, length_);
    const bool stored = begun_ && write(chunk) && destination_.finishFile({length_, crc_, chunk.digest});
    // A file cut short is kept (as a zip entry, or under its .part name) but
    // is no finished file.
    const bool whole = stored && length_ == plannedLength_;
    rescue_.endFile();
    if (whole && !readingStopped) ++outcome_.filesStored;
    if (chunk.endsRecording) {
        rescue_.endRecording(whole && !readingStopped);
        progress_.endRecording();
    }
    if (reason == Reason::readFailed) {
        outcome_.status = ExportStatus::readFailed;
        outcome_.readFailure = chunk.end.readFailure;
        rescue_.stop(chunk.end.rescueStop);
        return false;
    }
    if (reason == Reason::interrupted) {
        outcome_.status = ExportStatus::interrupted;
        rescue_.stop(card::RescueStop::interrupted);
        return false;
    }
    if (stored) return true;
    reportAddFailure();
    return false;
}

bool EntryWriter::write(const Chunk& chunk) {
    if (!destination_.takesDeflated()) return destination_.write(chunk.data);
    if (!chunk.deflated || !destination_.write(chunk.compressedData())) return false;
    // A chunk is about 1 MiB, within z_off_t even where it is 32 bits wide.
    crc_ = static_cast<uint32_t>(crc32_combine(crc_, chunk.crc, static_cast<z_off_t>(chunk.data.size())));
    return true;
}

void EntryWriter::logRefusedSeek(int32_t block) {
    log_.write("extractFile", 410,
               "Bad seek: index(" + std::to_string(int64_t{block} * scan::blockSize) + ") sector(" +
                   std::to_string(block) + ")");
}

void EntryWriter::reportSkipped(int32_t k) {
    progress_.endLine();
    logRefusedSeek(table_.firstBlock(k));
    console_.errLine("Can't extract file: " + output::recordingName(k, table_.startTimes[static_cast<size_t>(k)]));
    console_.errLine("Skipping file");
}

// What follows the reading of a whole recording: the reason it ended early,
// its progress line and its date warnings.
void EntryWriter::reportRecordingRead(const RecordingEnd& end, uint64_t length) {
    // A live progress line stays above the messages rather than under them.
    if (end.reason == Reason::seekFailed || end.reason == Reason::seekRefused || !warnings_.empty())
        progress_.endLine();
    if (end.reason == Reason::seekFailed) {
        console_.outLine("Error: " + std::to_string(static_cast<unsigned>(end.seekError.code)));
        platform::printSystemError(console_, end.seekError);
        console_.outLine("Failed to set file pointer");
    } else if (end.reason == Reason::seekRefused) {
        logRefusedSeek(end.block);
    }
    progress_.report(number_, name_, length);
    for (const auto& warning : warnings_) console_.errLine(warning);
}

void EntryWriter::reportAddFailure() {
    reportDestinationFailure(console_, destination_);
    outcome_.status = ExportStatus::addFailed;
}

void reportDestinationFailure(platform::Console& console, const output::Destination& destination) {
    for (const auto& line : destination.failureLines()) console.errLine(line);
}

void reportArchiveError(platform::Console& console, platform::SystemError error) {
    if (error.any()) console.errLine(platform::systemErrorLine(error));
}

}  // namespace quilbex::exporting
