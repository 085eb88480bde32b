// The report page's files table: the columns that only some runs can fill
// (the card's own name, the SHA-256, whether the copy was checked) appear
// only when some file has them, with every text escaped.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report/report_page.hpp"

namespace quilbex::report {
namespace {

constexpr uint32_t march5 = 0x4A6570F0;  // 2017-03-05 14:07:32

std::string pageWith(const std::vector<FileFacts>& facts) {
    scan::ScanResult scan;
    scan.table.open(0, march5);
    scan.table.open(1, march5 + 0x20);  // a minute later
    const output::FilePlan plan(scan.table, {});
    std::string page;
    writeReportPage({"E:", 1 << 30, "2026-12-08 12:00:00", "2.2.3b", "quilbex E: out.zip", scan, plan,
                     RunOutcome{RunEnd::exported, 2, 0, "out.zip", {}}, {}, {}, facts},
                    [&](std::string_view text) { page += text; });
    return page;
}

TEST(ReportPage, shows_the_columns_of_file_facts_only_when_some_file_has_them) {
    struct Case {
        std::vector<FileFacts> facts;
        std::vector<std::string> shown;
        std::vector<std::string> left_out;
    };
    const std::string cardName = "<th>Name on the card</th>", sha = "<th>SHA-256</th>", checked = "<th>Checked</th>";
    const std::vector<Case> cases = {
        {{}, {"<td>wav0001_2017_03_05__14_08_32.wav</td>"}, {cardName, sha, checked}},
        {{{"", "ab12", true}, {"", "cd34", false}},
         {sha, checked, "<code>ab12</code></td><td>yes</td>", "<code>cd34</code></td><td>NO</td>"},
         {cardName}},
        {{{}, {"night&day<1>.wav", "", std::nullopt}},
         {cardName, "<td>night&amp;day&lt;1&gt;.wav</td>"},
         {sha, checked}},
    };
    for (const Case& c : cases) {
        const std::string page = pageWith(c.facts);
        EXPECT_NE(page.find("<dd class=\"outcome\">2 files written to out.zip.</dd>"), std::string::npos);
        for (const std::string& text : c.shown) EXPECT_NE(page.find(text), std::string::npos) << text;
        for (const std::string& text : c.left_out) EXPECT_EQ(page.find(text), std::string::npos) << text;
    }
}

TEST(ReportPage, says_in_the_outcome_what_the_check_found_and_whether_the_card_may_be_formatted) {
    const std::vector<std::pair<RunOutcome, std::string>> cases = {
        {{RunEnd::exported, 3, 1, "n1", CheckOutcome{0, 3, false}},
         "3 files written to n1, all checked on the disk. 1 holds zero-filled bytes where the card could not be read."},
        {{RunEnd::writeFailed, 2, 0, "n1", CheckOutcome{1, 2, false}},
         "Writing to n1 failed: 2 of 3 files written. Checked on the disk: 1 of 2 files differ."},
    };
    for (const auto& [outcome, sentence] : cases) EXPECT_EQ(outcomeSentence(outcome, 3), sentence);
}

}  // namespace
}  // namespace quilbex::report
