#pragma once
// Calendar time to MS-DOS date/time, as the platform converts it: through the
// system's file time, so both steps can fail with the platform's own codes.

#include <cstdint>

namespace quilbex::platform {

struct CalendarTime {
    int year = 0;
    int month = 0;  // 1-12
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

struct DosTimeConversion {
    uint32_t dosDateTime = 0;  // date in the upper 16 bits; set when both steps succeeded
    int fileTimeError = 0;     // non-zero when the calendar time is no valid time
    int dosTimeError = 0;      // non-zero when the time lies outside 1980-2107
};

// No time-zone or daylight-saving correction is applied.
DosTimeConversion toDosDateTime(const CalendarTime& time);

}  // namespace quilbex::platform
