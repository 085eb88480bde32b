// The figures of the live progress line and how the line is fitted to the
// terminal's width.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "output/size_text.hpp"
#include "report/progress_text.hpp"

namespace quilbex::report {
namespace {

const std::string head = "Adding [3/12]: wav0002_2017_03_06__02_15_10.wav";
const std::vector<std::string> fields = {"41%", "3.1/7.5 GB", "88 MB/s", "0:50 left"};

TEST(ProgressText, sizes_and_rates_are_in_decimal_units) {
    EXPECT_EQ(output::formatBytes(7'500'000'000), "7.5 GB");
    EXPECT_EQ(output::formatBytes(25'165'800), "25.2 MB");
    EXPECT_EQ(output::formatBytes(999'960'000), "1.0 GB");
    EXPECT_EQ(formatRate(88e6), "88 MB/s");
    EXPECT_EQ(formatRate(3.24e6), "3.2 MB/s");
    EXPECT_EQ(formatRate(9.96e6), "10 MB/s");
}

TEST(ProgressText, durations_show_hours_only_when_there_are_any) {
    EXPECT_EQ(formatDuration(0), "0:00");
    EXPECT_EQ(formatDuration(85), "1:25");
    EXPECT_EQ(formatDuration(3599), "59:59");
    EXPECT_EQ(formatDuration(3723), "1:02:03");
}

TEST(ProgressText, fields_give_the_time_left_only_while_bytes_move_and_remain) {
    EXPECT_EQ(progressFields(3'100'000'000, 7'500'000'000, 88e6), fields);
    EXPECT_EQ(progressFields(3'100'000'000, 7'500'000'000, std::nullopt),
              (std::vector<std::string>{"41%", "3.1/7.5 GB"}));
    EXPECT_EQ(progressFields(3'100'000'000, 7'500'000'000, 0.0),
              (std::vector<std::string>{"41%", "3.1/7.5 GB", "0.0 MB/s"}));
    EXPECT_EQ(progressFields(25'165'800, 25'165'800, 88e6),
              (std::vector<std::string>{"100%", "25.2/25.2 MB", "88 MB/s"}));
}

TEST(ProgressText, fitting_drops_fields_from_the_right_and_keeps_the_last_column_free) {
    const std::string full = head + "  41%  3.1/7.5 GB  88 MB/s  0:50 left";
    EXPECT_EQ(fitToWidth(head, fields, 200), full);
    EXPECT_EQ(fitToWidth(head, fields, static_cast<int>(full.size()) + 1), full);
    EXPECT_EQ(fitToWidth(head, fields, static_cast<int>(full.size())), head + "  41%  3.1/7.5 GB  88 MB/s");
    EXPECT_EQ(fitToWidth(head, fields, 60), head + "  41%");
    EXPECT_EQ(fitToWidth(head, fields, 20), head.substr(0, 19));
    EXPECT_EQ(fitToWidth(head, fields, 0), fitToWidth(head, fields, 80));
}

}  // namespace
}  // namespace quilbex::report
