#pragma once
// Calendar time and MS-DOS date/time: decoded as stored, and converted as the
// platform converts it, through the system's file time, so both steps of the
// conversion can fail with the platform's own codes.

#include <cstdint>

namespace quilbex::platform {

struct CalendarTime {
    int year = 0;    // full year, e.g. 2017
    int month = 0;   // 1-12
    int day = 0;     // day of month
    int hour = 0;
    int minute = 0;
    int second = 0;  // 0-59 for a valid time
};

// The days of a month (1-12) of the Gregorian calendar.
int daysInMonth(int year, int month);

// A real date and time of day: month 1-12, a day the month has, 00:00:00 to
// 23:59:59. A decoded MS-DOS value need not be one.
bool isValidTime(const CalendarTime& time);

// The fields of an MS-DOS date/time (date in the upper 16 bits) as they
// stand: nothing is checked, so a stored seconds field of 30 gives second 60.
CalendarTime decodeDosDateTime(uint32_t value);

struct DosTimeConversion {
    uint32_t dosDateTime = 0;  // date in the upper 16 bits; set when both steps succeeded
    int fileTimeError = 0;     // non-zero when the calendar time is no valid time
    int dosTimeError = 0;      // non-zero when the time lies outside 1980-2107
};

// No time-zone or daylight-saving correction is applied.
DosTimeConversion toDosDateTime(const CalendarTime& time);

}  // namespace quilbex::platform
