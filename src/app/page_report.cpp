#include "app/page_report.hpp"

#include <unordered_set>

#include "app/texts.hpp"
#include "platform/clock.hpp"
#include "platform/file_system.hpp"
#include "platform/sha256.hpp"
#include "report/listing_time.hpp"
#include "report/report_file.hpp"

namespace quilbex::app {
namespace {

// What the check found, once the run's status is known.
std::optional<report::CheckOutcome> checkOutcome(const RunRecord& record, int status) {
    if (!record.readBack) return std::nullopt;
    const output::CheckTally& tally = *record.readBack;
    return report::CheckOutcome{tally.differing.size(), tally.files,
                                tally.differing.empty() && tally.failures.empty() && status == 0};
}

// A file is on the disk whole when the folder got its digest, or the
// archive its entry (an archive's entries are the plan's first ones).
std::vector<report::FileFacts> fileFacts(const Options& options, const output::FilePlan& plan,
                                         const RunRecord& record) {
    const bool renamed = !options.namePrefix.empty();
    if (!renamed && record.digests.empty() && !record.readBack) return {};
    std::unordered_set<std::string> differing;
    if (record.readBack) differing = {record.readBack->differingNames.begin(), record.readBack->differingNames.end()};
    std::vector<report::FileFacts> facts;
    facts.reserve(plan.fileCount());
    plan.forEach([&](const output::PlannedFile& file) {
        report::FileFacts& fact = facts.emplace_back();
        if (renamed) fact.cardName = output::cardNameOf(file);
        const auto* digest = file.index < record.digests.size() ? &record.digests[file.index] : nullptr;
        if (digest && *digest) fact.sha256 = platform::hexDigest(**digest);
        const bool whole = options.folder ? digest && *digest : file.index < record.outcome.filesWritten;
        if (record.readBack && whole) fact.checked = !differing.contains(file.heading.name);
        return true;
    });
    return facts;
}

}  // namespace

output::FileDigests planDigests(uint64_t files, const std::optional<output::DoneFiles>& done,
                                const output::FileDigests& written) {
    if (!done) return written;
    output::FileDigests digests(static_cast<size_t>(files));
    size_t listed = 0;
    size_t fresh = 0;
    for (size_t i = 0; i < files; ++i) {
        if (i < done->done.size() && done->done[i]) {
            if (listed < done->listed.size()) digests[i] = done->listed[listed++].first;
        } else if (fresh++ < written.size()) {
            digests[i] = written[fresh - 1];
        }
    }
    return digests;
}

int writePage(platform::Console& console, const PageRequest& request, const scan::ScanResult& scan,
              const output::FilePlan& plan, const RunRecord& record, int status) {
    const std::string& path = request.options.reportPath;
    report::RunOutcome outcome = record.outcome;
    outcome.check = checkOutcome(record, status);
    report::ReportInput input{request.options.drive,
                              request.cardSize,
                              report::formatStart(platform::localTimeNow()),
                              versionText(),
                              request.commandLine,
                              scan,
                              plan,
                              outcome,
                              record.rescue.damaged,
                              record.rescueLines,
                              fileFacts(request.options, plan, record)};
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
    for (int i = 1; i < argc; ++i) {
        line += ' ';
        line += argv[i];
    }
    return line;
}

}  // namespace quilbex::app
