#pragma once
// How many compressor threads the export runs.

namespace quilbex::exporting {

// The setting (the QUILBEX_THREADS environment value, or null) when it is a
// whole number, brought into 1 to 64; otherwise one per online processor.
int compressorCount(const char* setting);

}  // namespace quilbex::exporting
