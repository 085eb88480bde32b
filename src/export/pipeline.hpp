#pragma once
// The export as a pipeline of threads: see the top of pipeline.cpp.

#include "export/entry_writer.hpp"
#include "export/export_recordings.hpp"
#include "export/progress_events.hpp"
#include "platform/console.hpp"
#include "platform/diagnostic_log.hpp"

namespace quilbex::exporting {

// The most compressor threads the pipeline starts.
inline constexpr int maxCompressors = 64;

// Stores every file of the request's plan through its destination, which may
// have failed to open. Returns when every thread it started has ended; the
// destination is left open for the caller to close.
WriterOutcome runPipeline(const ExportRequest& request, ProgressEvents& progress, platform::Console& console,
                          const platform::DiagnosticLog& log);

}  // namespace quilbex::exporting
