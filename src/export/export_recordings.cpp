#include "export/export_recordings.hpp"

#include "card/sector_reader.hpp"
#include "export/entry_writer.hpp"
#include "export/pipeline.hpp"
#include "wav/wav_header.hpp"
#include "zip/zip_writer.hpp"

namespace quilbex::exporting {
namespace {

Progress makeProgress(const ExportRequest& request, platform::Console& console) {
    const scan::RecordingTable& table = request.table;
    if (!request.terminal) return {console, table.recordingCount, request.zipPath, request.verbose};
    uint64_t totalBytes = 0;
    for (int32_t k = 0; k < table.recordingCount; ++k) totalBytes += wav::wavFileSizeFor(table.payloadBytes(k));
    return {console, table.recordingCount, totalBytes, *request.terminal};
}

}  // namespace

ExportResult exportRecordings(const ExportRequest& request, platform::Console& console,
                              const platform::DiagnosticLog& log) {
    zip::ZipWriter zip;
    // The export goes on without an archive: the first recording is still
    // read, and storing it fails with its own message.
    const bool opened = zip.open(request.zipPath, zip::ZipWriter::createMode);
    if (!opened) console.errLine("Error: Can't make the zip file. Bad filename?");
    Progress progress = makeProgress(request, console);
    WriterOutcome outcome = runPipeline(request, zip, progress, console, log);
    // Every entry stored so far stays readable, whatever ended the export.
    // An archive that could not be finished whole fails the export as a
    // refused entry does, unless that failure was told already.
    if (!zip.close() && opened && outcome.status != ExportStatus::addFailed) {
        reportZipFailure(console);
        if (outcome.status == ExportStatus::completed) outcome.status = ExportStatus::addFailed;
    }
    if (outcome.readFailure) card::reportReadFailure(console, *outcome.readFailure);
    if (outcome.status == ExportStatus::completed) progress.summarize();
    return {outcome.status, outcome.rescue};
}

}  // namespace quilbex::exporting
