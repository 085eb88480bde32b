#include "app/driver.hpp"

#include <cstdlib>
#include <optional>

#include "app/options.hpp"
#include "app/page_report.hpp"
#include "app/texts.hpp"
#include "card/card_device.hpp"
#include "card/sector_reader.hpp"
#include "export/compressor_count.hpp"
#include "export/export_recordings.hpp"
#include "output/file_plan.hpp"
#include "output/folder_checks.hpp"
#include "output/folder_destination.hpp"
#include "output/folder_resume.hpp"
#include "output/folder_texts.hpp"
#include "output/tee_destination.hpp"
#include "output/zip_destination.hpp"
#include "platform/clock.hpp"
#include "platform/file_system.hpp"
#include "platform/interrupt.hpp"
#include "platform/terminal.hpp"
#include "report/card_listing.hpp"
#include "report/check_report.hpp"
#include "report/elapsed_time.hpp"
#include "report/progress.hpp"
#include "report/rescue_report.hpp"
#include "scan/card_scan.hpp"

namespace quilbex::app {
namespace {

constexpr int success = 0;
constexpr int failure = 1;

bool archiveDirectoryExists(platform::Console& console, const std::string& zipPath) {
    const std::string dir = output::directoryOf(zipPath);
    if (dir.empty() || platform::isDirectory(dir)) return true;
    console.errLine("Error: Directory not found: " + dir);
    return false;
}

int reportInterrupted(platform::Console& console) {
    console.err("\n");
    console.errLine("Interrupted");
    return platform::interruptExitStatus(platform::interruptSignal().load());
}

// A terminal gets the live progress line, unless each recording is to get a
// line of its own.
std::optional<report::Terminal> liveTerminal(const Options& options) {
    if (options.verbose || !platform::standardOutputIsTerminal()) return std::nullopt;
    return report::Terminal{platform::standardOutputColumns};
}

// After a completed export: the elapsed time when asked for. The progress
// line that is rewritten in place when not verbose is ended first, also
// before the rescue's report; the live one is ended by its summary.
void reportElapsedTime(platform::Console& console, const Options& options, bool live, int32_t start) {
    const bool showTime = options.verbose || options.showElapsedTime;
    if (!showTime && !options.rescue) return;
    if (!options.verbose && !live) console.outLine("");
    if (showTime) console.outLine(report::formatElapsedTime(report::elapsedTimeBetween(start, platform::processMilliseconds())));
}

struct Checked {
    int64_t cardSize = 0;            // 0 to stop
    bool replaceOldArchive = false;  // the user agreed to replace what is at the archive path
    bool replaceOldMirror = false;   // the same for the second copy's archive (-m)
    bool replaceOldPage = false;     // ... at the report page's path
    bool pageAtPath = false;         // something is at the report page's path
};

// Checks made before the card is opened: the archive's directory (the
// folder's parent with -d), with -m the second copy's, and the report
// page's; the card's size and leave to replace an old archive, second copy
// or page in one question; with a folder, that question waits for the scan,
// which tells whether its files are there.
Checked checkBeforeOpening(platform::Console& console, const Options& options) {
    for (const std::string& path : {options.zipPath, options.mirror}) {
        const std::string directory = options.folder ? output::folderPath(path) : path;
        if (!options.list && !path.empty() && !archiveDirectoryExists(console, directory)) return {};
    }
    const bool page = !options.reportPath.empty();
    if (page && !archiveDirectoryExists(console, options.reportPath)) return {};
    const int64_t cardSize = card::getDriveSize(console, options.drive);
    if (cardSize == 0) {
        console.errLine("Drive size unknown");
        return {};
    }
    const bool pageAtPath = page && platform::existsAsNonDirectory(options.reportPath);
    const bool archives = !options.list && !options.folder;
    const bool archiveAtPath = archives && platform::existsAsNonDirectory(options.zipPath);
    const bool mirrorAtPath = archives && !options.mirror.empty() && platform::existsAsNonDirectory(options.mirror);
    if (options.folder || (!archiveAtPath && !mirrorAtPath && !pageAtPath)) return {cardSize, false, false, false, pageAtPath};
    if (!confirmOverwrite(console)) return {};
    return {cardSize, archiveAtPath, mirrorAtPath, pageAtPath, pageAtPath};
}

// The files an export writes, and a listing lists.
output::PlanOptions planOptions(const Options& options) {
    return {options.secondsPerFile, options.guano, options.utcOffsetMinutes, options.namePrefix};
}

report::RunEnd runEnd(exporting::ExportStatus status) {
    switch (status) {
    case exporting::ExportStatus::completed:
        return report::RunEnd::exported;
    case exporting::ExportStatus::addFailed:
        return report::RunEnd::writeFailed;
    case exporting::ExportStatus::readFailed:
        return report::RunEnd::readFailed;
    case exporting::ExportStatus::interrupted:
        break;
    }
    return report::RunEnd::interrupted;
}

// The export of the plan's files through the destination; `record`
// receives how it ended, what its rescue met, and with -c what the check
// found: the destination's read-back, and the blocks the card gave otherwise
// than to the scan.
exporting::ExportStatus exportThrough(platform::Console& console, const platform::DiagnosticLog& log,
                                      const Options& options, const std::optional<report::Terminal>& terminal,
                                      card::CardDevice& card, const scan::ScanResult& scan,
                                      const output::FilePlan& plan, output::Destination& destination, bool opened,
                                      RunRecord& record) {
    exporting::ExportRequest request{scan.table, card,           destination,
                                     plan,       opened,         options.verbose,
                                     exporting::compressorCount(std::getenv("QUILBEX_THREADS"))};
    request.deflate = deflate::deflateMode(std::getenv("QUILBEX_DEFLATE"));
    request.stopSignal = &platform::interruptSignal();
    report::Progress progress = report::makeProgress(console, plan, options.zipPath, options.verbose, terminal);
    request.progress = &progress;
    request.rescue = options.rescue;
    request.sectorSize = scan.sectorSize;
    if (options.check) request.headerSectorCrcs = &scan.headerSectorCrcs;
    const auto result = exporting::exportRecordings(request, console, log);
    record.writesPage = true;
    record.rescue = result.rescue;
    record.readFailure = result.readFailure;
    record.outcome = {runEnd(result.status), result.filesStored, 0, options.zipPath, {}};
    if (!options.check) return result.status;
    record.readBack.emplace();
    for (const int32_t block : result.blocksReadOtherwise)
        record.readBack->failures.push_back(report::blockReadTwiceText(block));
    *record.readBack += destination.finishChecks();
    return result.status;
}

// The exit status of an export that ended so; its messages are printed.
int exitStatus(platform::Console& console, exporting::ExportStatus status) {
    switch (status) {
    case exporting::ExportStatus::completed:
        return success;
    case exporting::ExportStatus::addFailed:
    case exporting::ExportStatus::readFailed:
        return failure;
    case exporting::ExportStatus::interrupted:
        return reportInterrupted(console);
    }
    return failure;
}

// The status of the export into a zip. Only what the user agreed to replace
// is deleted: anything that appears at the archive path later makes the
// archive's creation fail. With -c, `readBack` receives what reading the
// archive back found.
int exportToArchive(platform::Console& console, const platform::DiagnosticLog& log, const Options& options,
                    const Checked& checked, const std::optional<report::Terminal>& terminal,
                    card::CardDevice& card, const scan::ScanResult& scan, const output::FilePlan& plan,
                    RunRecord& record) {
    if (checked.replaceOldArchive) platform::deleteFile(options.zipPath);
    if (checked.replaceOldMirror) platform::deleteFile(options.mirror);
    output::ZipDestination zip;
    output::ZipDestination mirror;
    if (options.check) {
        zip.checkArchive();
        mirror.checkArchive();
    }
    const bool opened = exporting::openArchive(zip, options.zipPath, console);
    // A second archive that cannot be made fails as a copy that fails later.
    if (!options.mirror.empty()) exporting::openArchive(mirror, options.mirror, console);
    output::TeeDestination both(zip, options.zipPath, mirror, options.mirror);
    output::Destination& destination = options.mirror.empty() ? static_cast<output::Destination&>(zip) : both;
    const auto status = exportThrough(console, log, options, terminal, card, scan, plan, destination, opened, record);
    if (status == exporting::ExportStatus::addFailed) console.outLine("Error:: Can't add file to zip.");
    return exitStatus(console, status);
}

// The status of the export into a folder (-d), refused before its first
// byte when its checks fail; the question there covers an old report page
// too. A file cut short is named last.
int exportToFolder(platform::Console& console, const platform::DiagnosticLog& log, const Options& options,
                   Checked& checked, const std::optional<report::Terminal>& terminal, card::CardDevice& card,
                   const scan::ScanResult& scan, const output::FilePlan& plan, RunRecord& record) {
    const std::string folder = output::folderPath(options.zipPath);
    const std::string mirrorFolder = output::folderPath(options.mirror);
    std::vector<std::string> folders{folder};
    if (!options.mirror.empty()) folders.push_back(mirrorFolder);
    const std::string fingerprint = output::cardFingerprint(scan.headerDigest, planOptions(options));
    // An earlier run of this card into the folder: only the files it did not
    // leave whole are written. A second copy is written whole, so with -m
    // nothing is resumed.
    const auto done = options.mirror.empty() && platform::isDirectory(folder)
                          ? output::findDoneFiles(folder, plan, fingerprint, &platform::interruptSignal())
                          : std::nullopt;
    if (done && done->interrupted) return reportInterrupted(console);
    output::FilePlan rest = plan;
    if (done) rest.leaveOut(done->done);
    const auto confirm = [&] { return confirmOverwrite(console); };
    if (!output::folderReady(console, folders, rest, confirm, done.has_value(), checked.pageAtPath)) return failure;
    checked.replaceOldPage = checked.pageAtPath;
    // A fingerprint that cannot be written costs only the resume: the first
    // file's write meets the same cause, and says it.
    for (const auto& each : folders) output::writeFingerprint(each, fingerprint);
    if (done) console.outLine(output::resumingText(done->count, plan.fileCount(), folder, rest.fileCount()));
    output::FolderDestination main(folder);
    output::FolderDestination mirror(mirrorFolder);
    if (done) main.carryOver(done->listed);
    if (options.check) {
        main.checkFiles();
        mirror.checkFiles();
    }
    output::FileDigests written;  // of the files of `rest`, for the page
    if (!options.reportPath.empty()) {
        main.keepDigests(written);
        mirror.keepDigests(written);
    }
    output::TeeDestination both(main, folder, mirror, mirrorFolder);
    output::Destination& destination = options.mirror.empty() ? static_cast<output::Destination&>(main) : both;
    const auto ended = exportThrough(console, log, options, terminal, card, scan, rest, destination, true, record);
    if (!options.reportPath.empty()) record.digests = planDigests(plan.fileCount(), done, written);
    if (done) {
        record.rescue.storedWhole += done->recordingsEnded;
        record.outcome.filesWritten += done->count;
    }
    const int status = exitStatus(console, ended);
    for (const auto* copy : {&main, &mirror})
        if (!copy->keptPart().empty()) console.errLine(output::keptPartText(copy->keptPart()));
    return status;
}

// The status of a scan that found nothing to go on with, if so, and how
// that ended the run.
std::optional<int> scanStatus(platform::Console& console, const scan::ScanResult& scan, RunRecord& record) {
    const auto ended = [&](report::RunEnd how) {
        record.writesPage = true;
        record.outcome.end = how;
    };
    if (scan.interrupted) {
        ended(report::RunEnd::scanInterrupted);
        return reportInterrupted(console);
    }
    if (scan.readFailure) {
        ended(report::RunEnd::scanFailed);
        card::reportReadFailure(console, *scan.readFailure);
        return failure;
    }
    if (scan.table.recordingCount == 0) {
        ended(report::RunEnd::nothingFound);
        console.err("No files found\n");
        return failure;
    }
    return std::nullopt;
}

// The status of the run from the end of the scan on.
int exportFound(platform::Console& console, const platform::DiagnosticLog& log, const Options& options,
                Checked& checked, card::CardDevice& card, const scan::ScanResult& scan, const output::FilePlan& plan,
                int32_t start, RunRecord& record) {
    if (const auto status = scanStatus(console, scan, record)) return *status;
    const auto terminal = liveTerminal(options);
    const int status = options.folder
                           ? exportToFolder(console, log, options, checked, terminal, card, scan, plan, record)
                           : exportToArchive(console, log, options, checked, terminal, card, scan, plan, record);
    if (status == success) reportElapsedTime(console, options, terminal.has_value(), start);
    return status;
}

// Ends a rescuing run with its report, which the record keeps for the page;
// a run that left sectors unread fails.
int reportRescue(platform::Console& console, const Options& options, const scan::ScanResult& scan,
                 RunRecord& record, int status) {
    const exporting::ExportRescue& exported = record.rescue;
    report::RescueSummary summary{scan.table.recordingCount, exported, scan.rescue.unreadableOutside,
                                  exported.stop, options.secondsPerFile != 0};
    if (scan.interrupted) summary.stop = card::RescueStop::interrupted;
    if (summary.stop == card::RescueStop::none) summary.stop = scan.rescue.stop;
    report::printRescueReport(console, summary);
    record.rescueLines = report::rescueReportLines(summary);
    record.outcome.zeroFilledFiles = exported.damaged.size();
    return status == success && summary.anyUnreadable() ? failure : status;
}

// Lists what the scan found; a header sector it could not read fails the run,
// as an export with damage does.
int listFound(platform::Console& console, const scan::ScanResult& scan, const output::FilePlan& plan,
              RunRecord& record) {
    if (const auto status = scanStatus(console, scan, record)) return *status;
    record.writesPage = true;
    record.outcome.end = report::RunEnd::listed;
    const report::CardListing listing = report::listCard(scan, plan);
    console.out(listing.text);
    return scan.unreadableHeaderBlocks.empty() ? success : failure;
}

// After a read of unreadable sectors ended the run: that -r reads past them.
int hintRescue(platform::Console& console, const Options& options, const std::optional<card::ReadFailure>& failure,
               int status) {
    if (!options.rescue && failure && card::failedOnSectors(*failure)) console.errLine(rescueHintText);
    return status;
}

int extract(platform::Console& console, const Options& options, const std::string& commandLine) {
    Checked checked = checkBeforeOpening(console, options);
    if (checked.cardSize == 0) return failure;

    const platform::DiagnosticLog log(console);
    auto card = card::openDrive(console, log, options.drive);
    if (!card) {
        console.err(platform::formatText("Cannot open %s for reading\n", options.drive.c_str()));
        printHint(console);
        return failure;
    }

    if (options.rescue && options.verbose && card->cacheNotBypassed()) printCachedReadsNote(console);

    // From here on Ctrl-C stops the work at a safe point instead of killing it.
    platform::watchInterrupts();
    if (!options.list) console.outLine("Extracting to " + options.zipPath + "...");
    const int32_t start = platform::processMilliseconds();

    const auto scan = scan::readFileInfo(*card, console, log, options.drive, checked.cardSize,
                                         {&platform::interruptSignal(), options.rescue, options.check});
    const output::FilePlan plan(scan.table, planOptions(options));
    RunRecord record;
    int status = options.list ? listFound(console, scan, plan, record)
                              : exportFound(console, log, options, checked, *card, scan, plan, start, record);
    if (options.rescue && !options.list) status = reportRescue(console, options, scan, record, status);
    status = hintRescue(console, options, scan.readFailure ? scan.readFailure : record.readFailure, status);
    // The check's lines close the run, once all else it has to say is said;
    // an interrupted run has not finished its checks.
    if (record.readBack && platform::interruptSignal().load() == 0)
        status = report::printCheckReport(console, *record.readBack, status);
    if (options.reportPath.empty() || !record.writesPage) return status;
    return writePage(console, {options, commandLine, checked.cardSize, checked.replaceOldPage}, scan, plan, record,
                     status);
}

}  // namespace

bool confirmOverwrite(platform::Console& console) {
    console.out("Overwrite existing file? (y/n): ");
    const std::string answer = console.readWord();
    return answer == "y" || answer == "Y";
}

int runQuilbex(int argc, const char* const* argv, platform::Console& console) {
    Options options;
    if (!parseCommandLine(argc, argv, options, console)) {
        printHint(console);
        return failure;
    }
    if (!options.pairGiven) return success;
    return extract(console, options, commandLineOf(argc, argv));
}

}  // namespace quilbex::app
