#include "export/export_recordings.hpp"

#include "card/sector_reader.hpp"
#include "export/entry_writer.hpp"
#include "export/pipeline.hpp"

namespace quilbex::exporting {
bool openArchive(output::ZipDestination& zip, const std::string& path, platform::Console& console) {
    if (zip.open(path)) return true;
    console.errLine("Error: Can't make the zip file. Bad filename?");
    reportArchiveError(console, zip.lastError());
    return false;
}

ExportResult exportRecordings(const ExportRequest& request, platform::Console& console,
                              const platform::DiagnosticLog& log) {
    ProgressEvents& progress = *request.progress;
    WriterOutcome outcome = runPipeline(request, progress, console, log);
    // Every file stored so far stays readable, whatever ended the export.
    // A destination that could not be finished whole fails the export as a
    // refused file does, unless that failure was told already.
    if (!request.destination.close() && request.destinationOpen && outcome.status != ExportStatus::addFailed) {
        reportDestinationFailure(console, request.destination);
        if (outcome.status == ExportStatus::completed) outcome.status = ExportStatus::addFailed;
    }
    if (outcome.readFailure) card::reportReadFailure(console, *outcome.readFailure);
    if (outcome.status == ExportStatus::completed) progress.summarize();
    return {outcome.status, outcome.rescue, outcome.readFailure, outcome.filesStored, outcome.blocksReadOtherwise};
}

}  // namespace quilbex::exporting
