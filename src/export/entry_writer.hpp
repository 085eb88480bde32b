#pragma once
// The pipeline's writer: takes the chunks in file order, stores them through
// the destination, and prints every message of the export at the point where
// an export that read, compressed and stored one file after another would
// print it. So the output never depends on the number of threads.

#include <cstdint>
#include <optional>
#include <string>

#include "card/sector_reader.hpp"
#include "export/export_recordings.hpp"
#include "export/progress_events.hpp"
#include "export/rescue_tally.hpp"
#include "export/writer_task.hpp"
#include "output/destination.hpp"
#include "platform/console.hpp"
#include "platform/diagnostic_log.hpp"
#include "platform/system_error.hpp"
#include "scan/recording_table.hpp"

namespace quilbex::exporting {

struct WriterOutcome {
    ExportStatus status = ExportStatus::completed;
    std::optional<card::ReadFailure> readFailure;  // set with readFailed; reported by the caller
    ExportRescue rescue;
    uint64_t filesStored = 0;  // whole, not cut short where the reading stopped
    std::vector<int32_t> blocksReadOtherwise;  // see ExportResult
};

class EntryWriter {
public:
    EntryWriter(const scan::RecordingTable& table, output::Destination& destination, ProgressEvents& progress,
                RescueTally& rescue, platform::Console& console, const platform::DiagnosticLog& log);

    // Stores the next task's chunk once it is compressed. False when the
    // export must stop now; outcome() then says why.
    bool take(const WriterTask& task);

    const WriterOutcome& outcome() const { return outcome_; }

private:
    void beginFile(const output::PlannedFile& file);
    bool continueEntry(const Chunk& chunk);
    bool finishEntry(const Chunk& chunk);
    bool write(const Chunk& chunk);
    void logRefusedSeek(int32_t block);
    void reportSkipped(int32_t k);
    void reportRecordingRead(const RecordingEnd& end, uint64_t length);
    void reportAddFailure();

    const scan::RecordingTable& table_;
    output::Destination& destination_;
    ProgressEvents& progress_;
    RescueTally& rescue_;
    platform::Console& console_;
    const platform::DiagnosticLog& log_;
    WriterOutcome outcome_;

    // The file being stored.
    int32_t number_ = 0;  // in the plan, from 1
    std::string name_;
    std::vector<std::string> warnings_;  // the destination's, about the file
    uint64_t plannedLength_ = 0;  // header, payload and metadata
    bool begun_ = false;          // false when the destination refused the file
    // The file's bytes taken so far: all stored, unless the destination
    // refused the file, which is still read whole for its progress line.
    uint64_t length_ = 0;
    uint32_t crc_ = 0;  // CRC-32 of the bytes stored
};

// What follows the progress line when the destination failed.
void reportDestinationFailure(platform::Console& console, const output::Destination& destination);
// The system's reason for a failure of the archive, on a line of its own;
// nothing when the failure was no system call's.
void reportArchiveError(platform::Console& console, platform::SystemError error);

}  // namespace quilbex::exporting
