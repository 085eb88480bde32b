#pragma once
// The GUANO metadata chunk: a `guan` chunk after the audio of `Key: Value`
// lines (UTF-8, LF line ends), which bat call analysis software reads for a
// file's time and origin. The header that counts it is written before the
// audio, so its size is fixed ahead from the file's facts; only the count of
// zero-filled bytes is known at the end, and its line has room kept for it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/dos_time.hpp"

namespace quilbex::wav {

struct GuanoFacts {
    std::optional<platform::CalendarTime> start;  // the file's start; none when no valid date
    std::optional<int> utcOffsetMinutes;          // the recorder clock's offset from UTC
    uint64_t payloadBytes = 0;                    // the file's audio
    std::string originalName;                     // the whole recording's name
    int32_t firstBlock = 0;                       // where the recording starts on the card
    std::optional<int64_t> offsetSeconds;         // a piece's offset into its recording
};

// The lines, each ending in LF; the last only when unreadableBytes is not 0.
std::string guanoText(const GuanoFacts& facts, uint64_t unreadableBytes);

// The whole chunk's length, its 8-byte head included: the text with the most
// unreadable bytes the file can hold, padded to an even length.
uint64_t guanoChunkSize(const GuanoFacts& facts);

// The chunk, exactly guanoChunkSize(facts) bytes, the text padded with spaces.
std::vector<std::byte> buildGuanoChunk(const GuanoFacts& facts, uint64_t unreadableBytes);

}  // namespace quilbex::wav
