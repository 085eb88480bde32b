#pragma once
// The date of an archive entry: its calendar time in MS-DOS form.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/dos_time.hpp"

namespace quilbex::zip {

using EntryTime = platform::CalendarTime;

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

}  // namespace quilbex::zip
