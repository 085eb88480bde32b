#pragma once
#include <cstdint>

namespace quilbex::platform {

// Wall-clock milliseconds since the process started, from a monotonic clock.
int32_t processMilliseconds();

}  // namespace quilbex::platform
