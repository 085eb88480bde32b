#include "app/page_report.hpp"

#include "app/texts.hpp"
#include "platform/clock.hpp"
#include "platform/file_system.hpp"
#include "report/listing_time.hpp"
#include "report/report_file.hpp"

namespace quilbex::app {

int writePage(platform::Console& console, const PageRequest& request, const scan::ScanResult& scan,
              const output::FilePlan& plan, const RunRecord& record, int status) {
    const std::string& path = request.options.reportPath;
    report::ReportInput input{request.options.drive,
                              request.cardSize,
                              report::formatStart(platform::localTimeNow()),
                              versionText(),
                              request.commandLine,
                              scan,
                              plan,
                              record.outcome,
                              record.rescue.damaged,
                              record.rescueLines,
                              {}};
    // Only what the user agreed to replace is deleted: anything that appears
    // at the path later makes the page's creation fail.
    if (request.replaceOld) platform::deleteFile(path);
    const auto error = report::saveReportPage(path, input);
    if (!error.any()) return status;
    console.errLine(reportFailedText(path, error));
    return status == 0 ? 1 : status;
}

std::string commandLineOf(int argc, const char* const* argv) {
    std::string line = "quilbex";
    for (int i = 1; i < argc; ++i) line += " " + std::string(argv[i]);
    return line;
}

}  // namespace quilbex::app
