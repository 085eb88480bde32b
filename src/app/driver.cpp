#include "app/driver.hpp"

#include <cstdlib>
#include <optional>

#include "app/card_listing.hpp"
#include "app/elapsed_time.hpp"
#include "app/folder_checks.hpp"
#include "app/folder_texts.hpp"
#include "app/options.hpp"
#include "app/texts.hpp"
#include "card/card_device.hpp"
#include "export/compressor_count.hpp"
#include "export/export_recordings.hpp"
#include "output/file_plan.hpp"
#include "output/folder_destination.hpp"
#include "output/folder_resume.hpp"
#include "output/zip_destination.hpp"
#include "platform/clock.hpp"
#include "platform/file_system.hpp"
#include "platform/interrupt.hpp"
#include "platform/terminal.hpp"
#include "report/check_report.hpp"
#include "scan/card_scan.hpp"

namespace quilbex::app {
namespace {

constexpr int success = 0;
constexpr int failure = 1;

bool archiveDirectoryExists(platform::Console& console, const std::string& zipPath) {
    const std::string dir = directoryOf(zipPath);
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
std::optional<exporting::Terminal> liveTerminal(const Options& options) {
    if (options.verbose || !platform::standardOutputIsTerminal()) return std::nullopt;
    return exporting::Terminal{platform::standardOutputColumns};
}

// After a completed export: the elapsed time when asked for. The progress
// line that is rewritten in place when not verbose is ended first, also
// before the rescue's report; the live one is ended by its summary.
void reportElapsedTime(platform::Console& console, const Options& options, bool live, int32_t start) {
    const bool showTime = options.verbose || options.showElapsedTime;
    if (!showTime && !options.rescue) return;
    if (!options.verbose && !live) console.outLine("");
    if (showTime) console.outLine(formatElapsedTime(elapsedTimeBetween(start, platform::processMilliseconds())));
}

struct Checked {
    int64_t cardSize = 0;            // 0 to stop
    bool replaceOldArchive = false;  // the user agreed to replace what is at the archive path
};

// Checks made before the card is opened: the archive's directory (the
// folder's parent with -d), the card's size and leave to replace an old
// archive; a folder's files are checked once the scan has found them.
Checked checkBeforeOpening(platform::Console& console, const Options& options) {
    const std::string directory = options.folder ? folderPath(options.zipPath) : options.zipPath;
    if (!options.list && !archiveDirectoryExists(console, directory)) return {};
    const int64_t cardSize = card::getDriveSize(console, options.drive);
    if (cardSize == 0) {
        console.errLine("Drive size unknown");
        return {};
    }
    if (options.list || options.folder || !platform::existsAsNonDirectory(options.zipPath)) return {cardSize, false};
    if (!confirmOverwrite(console)) return {};
    return {cardSize, true};
}

// The files an export writes, and a listing lists.
output::PlanOptions planOptions(const Options& options) {
    return {options.secondsPerFile, options.guano, options.utcOffsetMinutes, options.namePrefix};
}

// The export of the plan's files through the destination; `rescue`
// receives what its rescue met.
exporting::ExportStatus exportThrough(platform::Console& console, const platform::DiagnosticLog& log,
                                      const Options& options, const std::optional<exporting::Terminal>& terminal,
                                      card::CardDevice& card, const scan::ScanResult& scan,
                                      const output::FilePlan& plan, output::Destination& destination, bool opened,
                                      exporting::ExportRescue& rescue) {
    exporting::ExportRequest request{scan.table,      card,
                                     destination,     plan,
                                     opened,          options.zipPath,
                                     options.verbose, exporting::compressorCount(std::getenv("QUILBEX_THREADS"))};
    request.deflate = exporting::deflateMode(std::getenv("QUILBEX_DEFLATE"));
    request.stopSignal = &platform::interruptSignal();
    request.terminal = terminal;
    request.rescue = options.rescue;
    request.sectorSize = scan.sectorSize;
    const auto result = exporting::exportRecordings(request, console, log);
    rescue = result.rescue;
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
// archive's creation fail.
int exportToArchive(platform::Console& console, const platform::DiagnosticLog& log, const Options& options,
                    const Checked& checked, const std::optional<exporting::Terminal>& terminal,
                    card::CardDevice& card, const scan::ScanResult& scan, const output::FilePlan& plan,
                    exporting::ExportRescue& rescue) {
    if (checked.replaceOldArchive) platform::deleteFile(options.zipPath);
    output::ZipDestination zip;
    const bool opened = exporting::openArchive(zip, options.zipPath, console);
    const auto status = exportThrough(console, log, options, terminal, card, scan, plan, zip, opened, rescue);
    if (status == exporting::ExportStatus::addFailed) console.outLine("Error:: Can't add file to zip.");
    return exitStatus(console, status);
}

// The status of the export into a folder (-d), refused before its first
// byte when its checks fail. A file cut short is named last. With -c,
// `readBack` receives what reading the files back found.
int exportToFolder(platform::Console& console, const platform::DiagnosticLog& log, const Options& options,
                   const std::optional<exporting::Terminal>& terminal, card::CardDevice& card,
                   const scan::ScanResult& scan, const output::FilePlan& plan, exporting::ExportRescue& rescue,
                   std::optional<output::CheckTally>& readBack) {
    const std::string folder = folderPath(options.zipPath);
    const std::string fingerprint = output::cardFingerprint(scan.headerDigest, planOptions(options));
    // An earlier run of this card into the folder: only the files it did not
    // leave whole are written.
    const auto done = platform::isDirectory(folder)
                          ? output::findDoneFiles(folder, plan, fingerprint, &platform::interruptSignal())
                          : std::nullopt;
    if (done && done->interrupted) return reportInterrupted(console);
    output::FilePlan rest = plan;
    if (done) rest.leaveOut(done->done);
    if (!folderReady(console, folder, rest, done.has_value())) return failure;
    // A fingerprint that cannot be written costs only the resume: the first
    // file's write meets the same cause, and says it.
    output::writeFingerprint(folder, fingerprint);
    if (done) console.outLine(resumingText(done->count, plan.fileCount(), folder, rest.fileCount()));
    output::FolderDestination destination(folder);
    if (done) destination.carryOver(done->listed);
    if (options.check) destination.checkFiles();
    const auto ended = exportThrough(console, log, options, terminal, card, scan, rest, destination, true, rescue);
    if (done) rescue.storedWhole += done->recordingsEnded;
    if (options.check) readBack = destination.finishChecks();
    const int status = exitStatus(console, ended);
    if (!destination.keptPart().empty()) console.errLine(keptPartText(destination.keptPart()));
    return status;
}

// The status of a scan that found nothing to go on with, if so.
std::optional<int> scanStatus(platform::Console& console, const scan::ScanResult& scan) {
    if (scan.interrupted) return reportInterrupted(console);
    if (scan.readFailure) {
        card::reportReadFailure(console, *scan.readFailure);
        return failure;
    }
    if (scan.table.recordingCount == 0) {
        console.err("No files found\n");
        return failure;
    }
    return std::nullopt;
}

// The status of the run from the end of the scan on.
int exportFound(platform::Console& console, const platform::DiagnosticLog& log, const Options& options,
                const Checked& checked, card::CardDevice& card, const scan::ScanResult& scan, int32_t start,
                exporting::ExportRescue& rescue, std::optional<output::CheckTally>& readBack) {
    if (const auto status = scanStatus(console, scan)) return *status;
    const auto terminal = liveTerminal(options);
    const output::FilePlan plan(scan.table, planOptions(options));
    const int status =
        options.folder ? exportToFolder(console, log, options, terminal, card, scan, plan, rescue, readBack)
                       : exportToArchive(console, log, options, checked, terminal, card, scan, plan, rescue);
    if (status == success) reportElapsedTime(console, options, terminal.has_value(), start);
    return status;
}

// Ends a rescuing run with its report; a run that left sectors unread fails.
int reportRescue(platform::Console& console, const scan::ScanResult& scan, const exporting::ExportRescue& exported,
                 int status) {
    exporting::RescueSummary summary{scan.table.recordingCount, exported, scan.rescue.unreadableOutside,
                                     exported.stop};
    if (scan.interrupted) summary.stop = card::RescueStop::interrupted;
    if (summary.stop == card::RescueStop::none) summary.stop = scan.rescue.stop;
    exporting::printRescueReport(console, summary);
    return status == success && summary.anyUnreadable() ? failure : status;
}

// Lists what the scan found; a header sector it could not read fails the run,
// as an export with damage does.
int listFound(platform::Console& console, const Options& options, const scan::ScanResult& scan) {
    if (const auto status = scanStatus(console, scan)) return *status;
    const output::FilePlan plan(scan.table, planOptions(options));
    const CardListing listing = listCard(scan, plan);
    console.out(listing.text);
    return scan.unreadableHeaderBlocks.empty() ? success : failure;
}

int extract(platform::Console& console, const Options& options) {
    const Checked checked = checkBeforeOpening(console, options);
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
                                         {&platform::interruptSignal(), options.rescue});
    if (options.list) return listFound(console, options, scan);
    exporting::ExportRescue exported;
    std::optional<output::CheckTally> readBack;
    int status = exportFound(console, log, options, checked, *card, scan, start, exported, readBack);
    if (options.rescue) status = reportRescue(console, scan, exported, status);
    // The check's lines close the run, once all else it has to say is said;
    // an interrupted run has not finished its checks.
    if (readBack && platform::interruptSignal().load() == 0)
        status = report::printCheckReport(console, *readBack, {}, status);
    return status;
}

}  // namespace

std::string directoryOf(const std::string& path) {
    const size_t separator = path.find_last_of("/\\");
    return separator == std::string::npos ? std::string() : path.substr(0, separator);
}

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
    return extract(console, options);
}

}  // namespace quilbex::app
