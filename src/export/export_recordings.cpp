#include "export/export_recordings.hpp"

namespace quilbex::exporting {

ExportStatus exportRecordings(const ExportRequest&, platform::Console&, const platform::DiagnosticLog&) {
    return ExportStatus::completed;
}

}  // namespace quilbex::exporting
