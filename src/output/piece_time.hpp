#pragma once
// Calendar arithmetic for the start times of pieces: the recorder's clock
// has no time zone, so this is plain Gregorian counting, leap days included.

#include <cstdint>

#include "platform/dos_time.hpp"

namespace quilbex::output {

using platform::isValidTime;

// A valid time plus seconds, carried across minutes, hours, days, months and
// years.
platform::CalendarTime addSeconds(const platform::CalendarTime& time, int64_t seconds);

// Seconds from 1970-01-01 00:00:00 to a valid time, to set times against
// each other.
int64_t secondsSinceEpoch(const platform::CalendarTime& time);

}  // namespace quilbex::output
