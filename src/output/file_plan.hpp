#pragma once
// The plan of the files an export writes: for each recording in table order
// either the whole recording or, with pieces of N seconds, its payload cut
// every N × 384000 samples (the last piece shorter, never empty). Each file
// has its name, start time and exact size before its first byte is read. The
// plan is walked, never stored: a large card cut into short pieces has
// millions of files.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "output/destination.hpp"
#include "output/prefix_names.hpp"
#include "scan/recording_table.hpp"
#include "wav/guano.hpp"

namespace quilbex::output {

struct PlanOptions {
    uint32_t secondsPerFile = 0;  // 0: whole recordings
    bool guano = false;           // a GUANO chunk ends every file
    std::optional<int> utcOffsetMinutes;
    std::string namePrefix = {};  // names PREFIX_YYYYMMDD_HHMMSS.wav; empty: the card's own names
};

struct PlannedFile {
    uint64_t index = 0;  // in the plan, from 0
    int32_t recording = 0;
    int32_t piece = -1;  // from 0; -1 for a whole recording
    // The file's audio: [payloadOffset, payloadOffset + payloadBytes) of the
    // recording's payload.
    uint64_t payloadOffset = 0;
    uint64_t payloadBytes = 0;
    int64_t offsetSeconds = 0;  // payloadOffset in seconds
    uint64_t trailerBytes = 0;  // of the chunks after the audio
    FileHeading heading;
};

// The card's own name of the file's recording, which -n and the pieces of
// -s rename.
std::string cardNameOf(const PlannedFile& file);

class FilePlan {
public:
    FilePlan(const scan::RecordingTable& table, PlanOptions options);

    // Calls visit with every file in order, until it returns false.
    void forEach(const std::function<bool(const PlannedFile&)>& visit) const;

    // From now on leaves out the files whose index is true in `files` (the
    // indices as the whole plan gives them): the others are numbered anew,
    // from 0, and alone counted.
    void leaveOut(std::vector<bool> files);

    uint64_t fileCount() const { return fileCount_; }
    uint64_t totalBytes() const { return totalBytes_; }
    const PlanOptions& options() const { return options_; }

    // The file's WAV header, which counts its GUANO chunk.
    std::vector<std::byte> header(const PlannedFile& file) const;
    // The bytes that follow the audio: the GUANO chunk, with the count of
    // zero-filled bytes in the file; nothing without GUANO.
    std::vector<std::byte> trailer(const PlannedFile& file, uint64_t unreadableBytes) const;

private:
    // The files of recording k, the first numbered `index`, until visit
    // returns false; false then.
    bool forEachOf(int32_t k, uint64_t& index, PrefixNames::Walk* named,
                   const std::function<bool(const PlannedFile&)>& visit) const;
    void count();
    wav::GuanoFacts guanoFacts(const PlannedFile& file) const;
    uint64_t trailerSize(const PlannedFile& file) const;

    const scan::RecordingTable& table_;
    PlanOptions options_;
    std::optional<PrefixNames> prefixNames_;  // with a name prefix
    std::vector<bool> leftOut_;  // by the index in the whole plan; empty: none
    uint64_t fileCount_ = 0;
    uint64_t totalBytes_ = 0;
};

}  // namespace quilbex::output
