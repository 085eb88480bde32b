#include "platform/dos_time.hpp"

namespace quilbex::platform {
namespace {

bool isLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

}  // namespace

int daysInMonth(int year, int month) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

bool isValidTime(const CalendarTime& t) {
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > daysInMonth(t.year, t.month)) return false;
    return t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 59 && t.second >= 0 && t.second <= 59;
}

CalendarTime decodeDosDateTime(uint32_t t) {
    return {static_cast<int>(t >> 25) + 1980,   static_cast<int>((t >> 21) & 0x0F), static_cast<int>((t >> 16) & 0x1F),
            static_cast<int>((t >> 11) & 0x1F), static_cast<int>((t >> 5) & 0x3F),  static_cast<int>(t & 0x1F) * 2};
}

}  // namespace quilbex::platform
