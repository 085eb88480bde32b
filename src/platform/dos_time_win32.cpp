#include <windows.h>

#include "platform/dos_time.hpp"
#include "platform/system_time_win32.hpp"

namespace quilbex::platform {

// The system decides validity: its file time takes Gregorian dates from 1601,
// its MS-DOS time only 1980 to 2107.
DosTimeConversion toDosDateTime(const CalendarTime& t) {
    DosTimeConversion result;
    SYSTEMTIME calendar = toSystemTime(t);
    FILETIME fileTime{};
    if (!SystemTimeToFileTime(&calendar, &fileTime)) {
        result.fileTimeError = static_cast<int>(GetLastError());
        return result;
    }
    WORD date = 0;
    WORD time = 0;
    if (!FileTimeToDosDateTime(&fileTime, &date, &time)) {
        result.dosTimeError = static_cast<int>(GetLastError());
        return result;
    }
    result.dosDateTime = static_cast<uint32_t>(date) << 16 | time;
    return result;
}

}  // namespace quilbex::platform
