#include "export/export_recordings.hpp"

#include "card/sector_reader.hpp"
#include "export/entry_writer.hpp"
#include "export/pipeline.hpp"
#include "zip/zip_writer.hpp"

namespace quilbex::exporting {

ExportStatus exportRecordings(const ExportRequest& request, platform::Console& console,
                              const platform::DiagnosticLog& log) {
    zip::ZipWriter zip;
    // The export goes on without an archive: the first recording is still
    // read, and storing it fails with its own message.
    const bool opened = zip.open(request.zipPath, 1);
    if (!opened) console.errLine("Error: Can't make the zip file. Bad filename?");
    WriterOutcome outcome = runPipeline(request, zip, console, log);
    // Every entry stored so far stays readable, whatever ended the export.
    // An archive that could not be finished whole fails the export as a
    // refused entry does, unless that failure was told already.
    if (!zip.close() && opened && outcome.status != ExportStatus::addFailed) {
        reportZipFailure(console);
        if (outcome.status == ExportStatus::completed) outcome.status = ExportStatus::addFailed;
    }
    if (outcome.readFailure) card::reportReadFailure(console, *outcome.readFailure);
    return outcome.status;
}

}  // namespace quilbex::exporting
