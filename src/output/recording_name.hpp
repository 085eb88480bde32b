#pragma once
// The names of the files the export writes, as zip entries or in a folder.

#include <cstdint>
#include <string>

#include "platform/dos_time.hpp"

namespace quilbex::output {

// "wav0000_2017_03_05__14_07_32.wav" for recording 0: its index and its start
// time as stored, valid or not.
std::string recordingName(int32_t index, uint32_t dosDateTime);

// The same form for recording `index` with a piece's own start time.
std::string fileName(int32_t index, const platform::CalendarTime& start);

// "wav0000_2017_02_30__14_07_32_003.wav": piece 3 of a recording whose start
// is no valid date keeps the recording's name with the piece's index.
std::string numberedPieceName(const std::string& recordingName, int32_t piece);

}  // namespace quilbex::output
