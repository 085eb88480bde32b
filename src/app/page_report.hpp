#pragma once
// The report page (-R) of a run, written after everything else.

#include <optional>
#include <string>
#include <vector>

#include "app/options.hpp"
#include "card/sector_reader.hpp"
#include "export/rescue_tally.hpp"
#include "output/check_tally.hpp"
#include "output/file_plan.hpp"
#include "output/folder_destination.hpp"
#include "output/folder_resume.hpp"
#include "platform/console.hpp"
#include "report/report_page.hpp"
#include "scan/card_scan.hpp"

namespace quilbex::app {

// What the page tells of a run once the card was scanned.
struct RunRecord {
    // False when the run may write nothing: a "no" to the question, or a
    // folder export refused before its first byte.
    bool writesPage = false;
    report::RunOutcome outcome;
    exporting::ExportRescue rescue;
    std::vector<std::string> rescueLines;
    std::optional<card::ReadFailure> readFailure;  // the card read that ended the export
    std::optional<output::CheckTally> readBack;    // with -c: what reading the copies back found
    // With -d and a page: by the plan's index, the SHA-256 of each file
    // whole in the folder, as written or, resumed, as listed before.
    output::FileDigests digests;
};

// The digests of the whole plan of `files` files, from those of the files a
// resume left (`done`, when there was one) and those the export wrote
// (`written`, in the order of the files it was given).
output::FileDigests planDigests(uint64_t files, const std::optional<output::DoneFiles>& done,
                                const output::FileDigests& written);

struct PageRequest {
    const Options& options;
    const std::string& commandLine;
    int64_t cardSize = 0;
    bool replaceOld = false;  // the user agreed to replace what is at the page's path
};

// Writes the page to options.reportPath and returns the run's status after
// it: a page that cannot be written fails the run (its message on standard
// error), and leaves what the export wrote as it is.
int writePage(platform::Console& console, const PageRequest& request, const scan::ScanResult& scan,
              const output::FilePlan& plan, const RunRecord& record, int status);

// "quilbex -R r.html E: out.zip": the arguments as typed.
std::string commandLineOf(int argc, const char* const* argv);

}  // namespace quilbex::app
