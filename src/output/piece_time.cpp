#include "output/piece_time.hpp"

namespace quilbex::output {
namespace {

// Days since 1970-01-01 of a proleptic Gregorian date, and back, counted
// in 400-year eras of 146097 days with years starting in March, so that the
// leap day is the last day of its year.
int64_t daysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civilFromDays(int64_t z, platform::CalendarTime& t) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t m = mp < 10 ? mp + 3 : mp - 9;
    t.year = static_cast<int>(yoe + era * 400 + (m <= 2));
    t.month = static_cast<int>(m);
    t.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
}

}  // namespace

platform::CalendarTime addSeconds(const platform::CalendarTime& time, int64_t seconds) {
    const int64_t total = secondsSinceEpoch(time) + seconds;
    const int64_t days = total / 86400;  // times from 1980 on: never negative
    const int64_t ofDay = total % 86400;
    platform::CalendarTime result;
    civilFromDays(days, result);
    result.hour = static_cast<int>(ofDay / 3600);
    result.minute = static_cast<int>(ofDay / 60 % 60);
    result.second = static_cast<int>(ofDay % 60);
    return result;
}

int64_t secondsSinceEpoch(const platform::CalendarTime& time) {
    return daysFromCivil(time.year, time.month, time.day) * 86400 + time.hour * 3600 + time.minute * 60 +
           time.second;
}

}  // namespace quilbex::output
