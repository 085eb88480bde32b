#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "report/progress.hpp"
#include "report/rate_meter.hpp"
#include "test_support.hpp"

namespace quilbex::report {
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

TEST(Progress, forms_for_no_terminal_ignore_the_live_calls) {
    for (const bool verbose : {false, true}) {
        testing::CapturedConsole memory;
        Progress progress(memory.console(), 1, "out.zip", verbose);
        EXPECT_FALSE(progress.live());
        progress.begin(1, "a.wav");
        progress.advance(1000);
        progress.refresh();
        progress.endLine();
        progress.summarize();
        EXPECT_EQ(memory.out(), "") << "verbose " << verbose;
    }
}

// A live progress line on a terminal whose width and clock the test sets.
struct LiveProgress {
    testing::CapturedConsole memory;
    int columns = 200;
    int64_t now = 0;
    Progress progress{memory.console(), 2, 10'000'000, Terminal{[this] { return columns; }, [this] { return now; }},
                      false};
};

std::string blanks(const std::string& line) { return std::string(line.size(), ' '); }

TEST(Progress, live_line_is_flushed_as_bytes_come_at_most_every_quarter_second) {
    LiveProgress live;
    EXPECT_TRUE(live.progress.live());
    live.progress.begin(1, "a.wav");
    live.progress.advance(1'000'000);
    const std::string first = "Adding [1/2]: a.wav  10%  1.0/10.0 MB";
    EXPECT_EQ(live.memory.flushedOut(), "\r" + first + "\r");

    live.now = 249;
    live.progress.advance(1'000'000);
    live.progress.refresh();
    EXPECT_EQ(live.memory.flushedOut(), "\r" + first + "\r");

    // Waiting for the card redraws the line too.
    live.now = 250;
    live.progress.refresh();
    const std::string second = "Adding [1/2]: a.wav  20%  2.0/10.0 MB";
    EXPECT_EQ(live.memory.flushedOut(), "\r" + first + "\r" + blanks(first) + "\r" + second + "\r");

    // From a second on, the rate and the time left: 2 MB in the last
    // second, 7 MB to go.
    live.now = 1000;
    live.progress.advance(1'000'000);
    EXPECT_TRUE(live.memory.flushedOut().ends_with(blanks(second) + "\r" +
                                                   "Adding [1/2]: a.wav  30%  3.0/10.0 MB  2.0 MB/s  0:04 left\r"));
}

// The longer line may have wrapped in the narrower window: the rows below
// are cleared before the new line.
TEST(Progress, live_line_blanks_no_more_than_a_narrower_window_holds) {
    LiveProgress live;
    live.progress.begin(1, "a_recording_with_a_long_name.wav");
    live.progress.advance(1'000'000);
    live.columns = 30;
    live.now = 250;
    live.progress.refresh();
    EXPECT_TRUE(live.memory.out().ends_with("\r" + std::string(29, ' ') + "\r\x1b[JAdding [1/2]: a_recording_wit\r"));
}

// Two recordings skipped in a row each end the line, the wait for the next
// one refreshes it, and the summary ends it too: it is drawn once.
TEST(Progress, ended_live_line_is_not_drawn_again_before_the_next_recording) {
    LiveProgress live;
    live.progress.begin(1, "a.wav");
    live.progress.advance(4'000'000);
    live.progress.endLine();
    const std::string ended = live.memory.out();
    live.progress.endLine();
    live.now = 1000;
    live.progress.refresh();
    live.progress.endLine();
    EXPECT_EQ(live.memory.out(), ended);
    live.progress.summarize();
    EXPECT_TRUE(live.memory.out().starts_with(ended));
    EXPECT_EQ(live.memory.out().find("Adding", ended.size()), std::string::npos) << live.memory.out();
}

TEST(Progress, ended_live_line_stays_above_what_follows_down_to_the_summary) {
    LiveProgress live;
    live.progress.begin(1, "a.wav");
    live.progress.advance(4'000'000);
    live.now = 100;
    live.progress.endLine();
    const std::string line = "Adding [1/2]: a.wav  40%  4.0/10.0 MB";
    EXPECT_EQ(live.memory.out(), "\r" + line + "\r" + blanks(line) + "\r" + line + "\r\n");

    // The next line starts on a line of its own: nothing to blank.
    live.progress.report(1, "a.wav", 4'000'000);
    live.progress.begin(2, "b.wav");
    live.now = 2000;
    live.progress.advance(6'000'000);
    const std::string last = "Adding [2/2]: b.wav  100%  10.0/10.0 MB  3.0 MB/s";
    EXPECT_TRUE(live.memory.out().ends_with("\r\n\r" + last + "\r"));

    live.progress.report(2, "b.wav", 6'000'000);
    live.progress.summarize();
    EXPECT_TRUE(live.memory.out().ends_with(last + "\r\n2 recordings, 10.0 MB in 0:02 (5.0 MB/s)\n"));
}

TEST(RateMeter, averages_the_last_seconds_and_falls_to_zero_when_bytes_stop) {
    RateMeter meter;
    int64_t now = 0;
    // 10 MB/s for 10 s, sampled more often than the meter keeps samples.
    for (; now <= 10'000; now += 100) meter.add(now, static_cast<uint64_t>(now) * 10'000);
    ASSERT_TRUE(meter.bytesPerSecond());
    EXPECT_DOUBLE_EQ(*meter.bytesPerSecond(), 10e6);
    // Then nothing: half the window later, half the rate.
    for (; now <= 12'500; now += 100) meter.add(now, 100'000'000);
    EXPECT_NEAR(*meter.bytesPerSecond(), 5e6, 0.5e6);
    for (; now <= 15'500; now += 100) meter.add(now, 100'000'000);
    EXPECT_EQ(*meter.bytesPerSecond(), 0.0);
}

}  // namespace
}  // namespace quilbex::report
