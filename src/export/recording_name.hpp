#pragma once
// The archive entry name of a recording.

#include <cstdint>
#include <string>

namespace quilbex::exporting {

// "wav0000_2017_03_05__14_07_32.wav" for recording 0: its index and its start
// time as stored, valid or not.
std::string recordingName(int32_t index, uint32_t dosDateTime);

}  // namespace quilbex::exporting
