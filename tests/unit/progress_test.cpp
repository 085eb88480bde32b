#include <gtest/gtest.h>

#include <string>

#include "export/progress.hpp"
#include "test_support.hpp"

namespace quilbex::exporting {
namespace {

TEST(Progress, verbose_reports_one_line_per_recording) {
    testing::CapturedConsole memory;
    Progress progress(memory.console(), 12, "/tmp/out.zip", true);
    progress.report(1, "wav0000_2017_03_05__14_07_32.wav", 1234567);
    progress.report(12, "wav0011_2017_03_05__14_08_00.wav", 56);
    EXPECT_EQ(memory.out(),
              "[1/12] Adding wav0000_2017_03_05__14_07_32.wav length 1234567 into /tmp/out.zip\n"
              "[12/12] Adding wav0011_2017_03_05__14_08_00.wav length 56 into /tmp/out.zip\n");
}

TEST(Progress, in_place_line_blanks_the_previous_one_first) {
    testing::CapturedConsole memory;
    Progress progress(memory.console(), 10, "out.zip", false);
    progress.report(9, "a_long_name.wav", 100);
    const std::string first = "Adding [9/10]: a_long_name.wav";
    EXPECT_EQ(memory.out(), "\r" + first + "\r");

    progress.report(10, "b.wav", 100);
    const std::string second = "Adding [10/10]: b.wav";
    EXPECT_EQ(memory.out(), "\r" + first + "\r" + std::string(first.size(), ' ') + "\r" + second + "\r");

    // Only the last line needs blanking, even after a longer one.
    progress.report(10, "c.wav", 100);
    EXPECT_TRUE(memory.out().ends_with(second + "\r" + std::string(second.size(), ' ') + "\rAdding [10/10]: c.wav\r"));
}

}  // namespace
}  // namespace quilbex::exporting
