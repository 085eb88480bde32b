#pragma once
// The report page (-R): one self-contained HTML5 page of a scanned card and
// of its export, to file with a deployment's records. In this order: a
// heading with the card, when and how the page was made and the run's outcome
// in one sentence; the nights as a picture (report/night_timeline); the
// listing's anomalies and the rescue's report; a table of the files. No
// script, style sheet, font or image from elsewhere; every text from the card
// escaped.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "export/rescue_tally.hpp"
#include "output/file_plan.hpp"
#include "report/html_text.hpp"
#include "scan/card_scan.hpp"

namespace quilbex::report {

// How the run ended, once the card was scanned.
enum class RunEnd {
    listed,           // -l: nothing exported
    exported,         // every file written
    nothingFound,     // no recording on the card
    scanFailed,       // a card read failed during the scan
    scanInterrupted,  // Ctrl-C during the scan
    readFailed,       // a card read failed during the export
    writeFailed,      // a file or the destination could not be written
    interrupted,      // Ctrl-C during the export
};

// What the check (-c) found on the disk.
struct CheckOutcome {
    uint64_t differing = 0;  // files not as the card gave them
    uint64_t files = 0;      // read back
    bool cardMayBeFormatted = false;  // all identical, and nothing else in the run failed
};

struct RunOutcome {
    RunEnd end = RunEnd::listed;
    uint64_t filesWritten = 0;  // whole
    uint64_t zeroFilledFiles = 0;  // with bytes the rescue could not read
    std::string destination;    // the archive or folder as typed
    std::optional<CheckOutcome> check;  // with -c, once the export ran
};

// What only some runs know of a file of the plan; a column is shown only when
// some file has its fact.
struct FileFacts {
    std::string cardName;         // the card's own name, where the file got another
    std::string sha256;           // in hex
    std::optional<bool> checked;  // read back from the disk and found the same
};

struct ReportInput {
    std::string drive;  // as typed
    int64_t cardSize = 0;
    std::string madeAt;       // local time, "2026-12-08 12:10:33"
    std::string version;      // "2.2.3b"
    std::string commandLine;  // the arguments as typed
    const scan::ScanResult& scan;
    const output::FilePlan& plan;  // of the scan's table, with the run's options
    RunOutcome outcome;
    std::vector<exporting::DamagedRecording> zeroFilled;  // the rescue's, in file order
    std::vector<std::string> rescueLines;  // the rescue's report; empty without it
    std::vector<FileFacts> files;          // by the plan's index; empty when none is known
};

// "3 files written to out.zip.", with -c "3 files written to out, all
// checked on the disk: the card may be formatted."
std::string outcomeSentence(const RunOutcome& outcome, uint64_t plannedFiles);

void writeReportPage(const ReportInput& input, const PageSink& sink);

}  // namespace quilbex::report
