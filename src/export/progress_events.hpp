#pragma once
// What the export tells whoever shows its progress to the user, so that the
// pipeline knows nothing of how it is shown (a line per file, one line
// rewritten in place, or a live line on a terminal). Only the pipeline's
// writer thread calls it.

#include <cstdint>
#include <string>

namespace quilbex::exporting {

class ProgressEvents {
public:
    // How often refresh() is worth calling while the export waits.
    static constexpr int64_t refreshMilliseconds = 250;

    virtual ~ProgressEvents() = default;

    // Whether refresh() is worth calling while the export waits.
    virtual bool live() const = 0;

    // After the n-th file (from 1) was read; length is the bytes of its entry.
    virtual void report(int32_t n, const std::string& name, uint64_t length) = 0;
    // The last file of a recording was reported.
    virtual void endRecording() = 0;
    // File n is being read from now on.
    virtual void begin(int32_t n, const std::string& name) = 0;
    // Bytes more of it were read.
    virtual void advance(uint64_t bytes) = 0;
    // The export waits: a chance to show that time passes.
    virtual void refresh() = 0;
    // A message of the export's own follows, on a line of its own.
    virtual void endLine() = 0;
    // After a completed export.
    virtual void summarize() = 0;
};

}  // namespace quilbex::exporting
