// The rescue's closing report: one line per damaged recording, then the
// summary with only the clauses that apply.

#include <gtest/gtest.h>

#include "export/rescue_report.hpp"
#include "test_support.hpp"

namespace quilbex::exporting {
namespace {

std::string report(const RescueSummary& summary) {
    scan::RecordingTable table;
    table.recordingCount = 3;
    table.startTimes[1] = 0x4A6570F0;  // 2017-03-05 14:07:32
    testing::CapturedConsole captured;
    printRescueReport(captured.console(), table, summary);
    EXPECT_EQ(captured.out(), "");
    return captured.err();
}

TEST(RescueReport, lists_damaged_files_then_what_was_lost_and_why_it_stopped) {
    const ExportRescue exported{{{1, 1024, 2}}, 2, card::RescueStop::cardGone};
    EXPECT_EQ(report({3, exported, 512, card::RescueStop::cardGone}),
              "Damaged file: wav0001_2017_03_05__14_07_32.wav, 1024 unreadable bytes in 2 places\n"
              "Rescue: 2 of 3 files exported; 1024 unreadable bytes zero-filled; 512 unreadable bytes outside "
              "the files; stopped early: the card is gone\n");
}

TEST(RescueReport, is_the_summary_alone_when_nothing_was_unreadable) {
    EXPECT_EQ(report({3, {{}, 3, card::RescueStop::none}, 0, card::RescueStop::none}),
              "Rescue: 3 of 3 files exported; 0 unreadable bytes zero-filled\n");
}

}  // namespace
}  // namespace quilbex::exporting
