#include "export/export_recordings.hpp"

#include "card/sector_reader.hpp"
#include "export/pipeline.hpp"
#include "zip/zip_writer.hpp"

namespace quilbex::exporting {

ExportStatus exportRecordings(const ExportRequest& request, platform::Console& console,
                              const platform::DiagnosticLog& log) {
    zip::ZipWriter zip;
    // The export goes on without an archive: the first recording is still
    // read, and storing it fails with its own message.
    if (!zip.open(request.zipPath, 1)) console.errLine("Error: Can't make the zip file. Bad filename?");
    const WriterOutcome outcome = runPipeline(request, zip, console, log);
    // Every entry stored so far stays readable, whatever ended the export.
    zip.close();
    if (outcome.readFailure) card::reportReadFailure(console, *outcome.readFailure);
    return outcome.status;
}

}  // namespace quilbex::exporting
