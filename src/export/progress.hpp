#pragma once
// The per-recording progress line: rewritten in place, or one line each with
// -V.

#include <cstdint>
#include <string>
#include <utility>

#include "platform/console.hpp"

namespace quilbex::exporting {

class Progress {
public:
    Progress(platform::Console& console, int32_t recordingCount, std::string zipPath, bool verbose)
        : console_(console), recordingCount_(recordingCount), zipPath_(std::move(zipPath)), verbose_(verbose) {}

    // n counts from 1; length is the bytes stored for the entry.
    void report(int32_t n, const std::string& name, uint64_t length);

private:
    platform::Console& console_;
    int32_t recordingCount_;
    std::string zipPath_;
    bool verbose_;
    size_t lastProgressLength_ = 0;  // length of the last in-place line
};

}  // namespace quilbex::exporting
