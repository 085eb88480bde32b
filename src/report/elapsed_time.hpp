#pragma once
// The elapsed-time line printed after -V or -t.

#include <cstdint>
#include <string>

namespace quilbex::report {

struct ElapsedTime {
    int32_t seconds = 0;  // 0 to 59
    int32_t minutes = 0;  // 0 to 59
    int32_t hours = 0;    // 0 to 23
    int32_t days = 0;
};

ElapsedTime elapsedTimeBetween(int32_t startMilliseconds, int32_t nowMilliseconds);

// "00m:05s", "03h:00m:09s", "01d:02h:03m:04s".
std::string formatElapsedTime(const ElapsedTime& elapsed);

}  // namespace quilbex::report
