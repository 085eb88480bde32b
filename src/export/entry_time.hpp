#pragma once
// The calendar time of an archive entry, and its MS-DOS form.

#include <cstdint>
#include <string>
#include <vector>

#include "scan/block_format.hpp"

namespace quilbex::exporting {

struct EntryTime {
    int32_t second = 0;  // 0-59 for a valid time
    int32_t minute = 0;
    int32_t hour = 0;
    int32_t day = 0;    // day of month
    int32_t month = 0;  // 1-12
    int32_t year = 0;   // full year, e.g. 2017
};

// The fields as the recorder stored them, valid or not.
EntryTime entryTimeFrom(uint32_t dosDateTime);

// The entry's MS-DOS date (upper 16 bits) and time (lower 16 bits), with the
// warnings the conversion produced, to be printed when the caller's output
// order calls for them.
struct EntryDate {
    uint32_t dosDate = 0;
    std::vector<std::string> warnings;  // whole lines, without the newline
};

// The time converted by the platform when it is a valid date and time within
// the MS-DOS range (so a valid stored value comes back unchanged); otherwise
// storedDosDateTime, the raw value the time was decoded from, with one warning.
EntryDate makeFileInfo(const EntryTime& time, uint32_t storedDosDateTime);

// "wav0000_2017_03_05__14_07_32.wav" for recording 0.
std::string recordingName(int32_t index, uint32_t dosDateTime);

}  // namespace quilbex::exporting
