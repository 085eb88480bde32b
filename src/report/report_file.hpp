#pragma once
// The report page on the disk: made as a new file only where nothing is, so
// that no link is ever followed, written in pieces and flushed.

#include <string>

#include "platform/system_error.hpp"
#include "report/report_page.hpp"

namespace quilbex::report {

// No error once the whole page is on the disk; else the system's reason, and
// whatever was written stays at the path.
platform::SystemError saveReportPage(const std::string& path, const ReportInput& input);

}  // namespace quilbex::report
