#pragma once
#include <cstdint>

#include "platform/dos_time.hpp"

namespace quilbex::platform {

// The time of day now in the system's time zone.
CalendarTime localTimeNow();

// Wall-clock milliseconds since the process started, from a monotonic clock.
int32_t processMilliseconds();

}  // namespace quilbex::platform
