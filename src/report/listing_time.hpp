#pragma once
// The times of the card listing: start times as the recorder stored them and
// lengths from the sample count.

#include <cstdint>
#include <string>

#include "platform/dos_time.hpp"

namespace quilbex::report {

// "2017-03-05 14:07:32", from the fields as they stand, valid or not.
std::string formatStart(const platform::CalendarTime& time);

// Hundredths of a second of sound in a payload, rounded to the nearest.
uint64_t centisecondsOf(uint64_t payloadBytes);

// "0:00:10.92": h:mm:ss.ss.
std::string formatLength(uint64_t centiseconds);

}  // namespace quilbex::report
