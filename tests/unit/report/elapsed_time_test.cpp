// The elapsed-time line: whole seconds, with days and hours shown only when
// they are not zero.

#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "report/elapsed_time.hpp"
#include "test_support.hpp"

namespace quilbex::report {
namespace {

constexpr int32_t second = 1000;
constexpr int32_t minute = 60 * second;
constexpr int32_t hour = 60 * minute;
constexpr int32_t day = 24 * hour;

std::string elapsedText(int32_t milliseconds) { return formatElapsedTime(elapsedTimeBetween(0, milliseconds)); }

TEST(ElapsedTime, shows_minutes_and_seconds_always) {
    EXPECT_EQ(elapsedText(0), "00m:00s");
    EXPECT_EQ(elapsedText(5 * second), "00m:05s");
    EXPECT_EQ(elapsedText(65 * second), "01m:05s");
    EXPECT_EQ(elapsedText(754 * second), "12m:34s");
    EXPECT_EQ(elapsedText(59 * minute + 59 * second), "59m:59s");
}

TEST(ElapsedTime, shows_hours_and_days_only_when_not_zero) {
    EXPECT_EQ(elapsedText(hour), "01h:00m:00s");
    EXPECT_EQ(elapsedText(3 * hour + 9 * second), "03h:00m:09s");
    EXPECT_EQ(elapsedText(day + 3 * minute + 7 * second), "01d:03m:07s");
    EXPECT_EQ(elapsedText(day + 2 * hour + 3 * minute + 4 * second), "01d:02h:03m:04s");
    EXPECT_EQ(elapsedText(23 * hour + 59 * minute + 59 * second), "23h:59m:59s");
    EXPECT_EQ(elapsedText(24 * day + 20 * hour), "24d:20h:00m:00s");
}

TEST(ElapsedTime, widens_days_beyond_two_digits) {
    EXPECT_EQ(formatElapsedTime({0, 0, 0, 100}), "100d:00m:00s");
    EXPECT_EQ(formatElapsedTime({9, 8, 7, 123}), "123d:07h:08m:09s");
}

TEST(ElapsedTime, drops_the_fraction_of_a_second) {
    EXPECT_EQ(elapsedText(999), "00m:00s");
    EXPECT_EQ(elapsedText(59 * second + 900), "00m:59s");
    EXPECT_EQ(elapsedText(60 * second), "01m:00s");
    EXPECT_EQ(elapsedText(hour - 1), "59m:59s");
}

TEST(ElapsedTime, measures_from_the_start_not_from_zero) {
    EXPECT_EQ(formatElapsedTime(elapsedTimeBetween(7 * second + 500, 72 * second + 499)), "01m:04s");
    EXPECT_EQ(formatElapsedTime(elapsedTimeBetween(7 * second + 500, 72 * second + 500)), "01m:05s");
}

TEST(ElapsedTime, survives_the_millisecond_clock_wrapping) {
    // The process clock is 32 bits of milliseconds; it wraps after 24.8 days.
    EXPECT_EQ(formatElapsedTime(elapsedTimeBetween(INT32_MAX - 999, INT32_MIN + 4000)), "00m:05s");
}

}  // namespace
}  // namespace quilbex::report
