#pragma once
// The Win32 form of a calendar time, shared by the Win32 files that convert
// one.

#include <windows.h>

#include "platform/dos_time.hpp"

namespace quilbex::platform {

inline SYSTEMTIME toSystemTime(const CalendarTime& t) {
    SYSTEMTIME calendar{};
    calendar.wYear = static_cast<WORD>(t.year);
    calendar.wMonth = static_cast<WORD>(t.month);
    calendar.wDay = static_cast<WORD>(t.day);
    calendar.wHour = static_cast<WORD>(t.hour);
    calendar.wMinute = static_cast<WORD>(t.minute);
    calendar.wSecond = static_cast<WORD>(t.second);
    return calendar;
}

}  // namespace quilbex::platform
