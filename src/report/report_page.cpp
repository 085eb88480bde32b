#include "report/report_page.hpp"

#include <algorithm>
#include <string_view>

#include "output/size_text.hpp"
#include "report/card_anomalies.hpp"
#include "report/listing_time.hpp"
#include "report/night_timeline.hpp"

namespace quilbex::report {
namespace {

// Shown on screen and on paper alike; bars keep their colours when printed.
constexpr std::string_view style =
    "body{font:14px/1.4 sans-serif;margin:1.5em;color:#222}"
    "h1{font-size:1.4em;margin:0 0 .3em}h2{font-size:1.1em;margin:1.4em 0 .4em}"
    "dl{display:grid;grid-template-columns:max-content auto;gap:.1em 1em;margin:0}dt{font-weight:bold}dd{margin:0}"
    "table{border-collapse:collapse}th,td{padding:.1em .6em;text-align:left;border-bottom:1px solid #ddd}"
    "td.n{text-align:right}code{font-size:.9em}"
    ".timeline{display:block;max-width:100%;height:auto}"
    ".timeline text{font:11px sans-serif;fill:#444}.timeline .gap{font-style:italic}"
    ".tick{stroke:#ccc;stroke-width:1}.night{fill:#eef1f6;fill-opacity:.7}"
    ".plain{fill:#2f5d9b}.damaged{fill:#c4161c}.setback{fill:#e08a00}"
    ".key span{display:inline-block;width:1em;height:.8em;margin:0 .3em 0 1em;vertical-align:-.05em}"
    ".key .plain{background:#2f5d9b}.key .damaged{background:#c4161c}.key .setback{background:#e08a00}"
    "@media print{body{margin:0;font-size:11px}*{-webkit-print-color-adjust:exact;print-color-adjust:exact}"
    "tr{break-inside:avoid}}";

std::string files(uint64_t count) { return std::to_string(count) + (count == 1 ? " file" : " files"); }

std::vector<BarKind> barKinds(const ReportInput& input, const CardAnomalies& anomalies) {
    std::vector<BarKind> kinds(static_cast<size_t>(input.scan.table.recordingCount), BarKind::plain);
    for (const Anomaly& anomaly : anomalies.found) {
        if (anomaly.recording < 0) continue;
        BarKind& kind = kinds[static_cast<size_t>(anomaly.recording)];
        if (anomaly.kind == AnomalyKind::damage) kind = BarKind::damaged;
        if (anomaly.kind == AnomalyKind::clockSetBack && kind == BarKind::plain) kind = BarKind::clockSetBack;
    }
    for (const auto& damaged : input.zeroFilled) kinds[static_cast<size_t>(damaged.recording)] = BarKind::damaged;
    return kinds;
}

void writeHeading(const ReportInput& input, const PageSink& sink) {
    const std::string card = escapeHtml(input.drive);
    sink("<title>quilbex report: " + card + "</title>\n<style>" + std::string(style) +
         "</style>\n</head>\n<body>\n<h1>Card " + card + " (" + output::formatBytes(uint64_t(input.cardSize)) +
         ")</h1>\n<dl>\n<dt>Outcome</dt><dd class=\"outcome\">" +
         escapeHtml(outcomeSentence(input.outcome, input.plan.fileCount())) + "</dd>\n<dt>Report made</dt><dd>" +
         escapeHtml(input.madeAt) + "</dd>\n<dt>quilbex</dt><dd>" + escapeHtml(input.version) +
         "</dd>\n<dt>Command</dt><dd><code>" + escapeHtml(input.commandLine) + "</code></dd>\n</dl>\n");
}

void writeTimeline(const ReportInput& input, const CardAnomalies& anomalies, const PageSink& sink) {
    sink("<h2>The nights, noon to noon</h2>\n");
    const std::vector<BarKind> kinds = barKinds(input, anomalies);
    const uint64_t undated = writeNightTimeline(input.scan.table, kinds, sink);
    // The key names the colours the picture uses.
    const auto uses = [&](BarKind kind) { return std::find(kinds.begin(), kinds.end(), kind) != kinds.end(); };
    sink(std::string("<p class=\"key\"><span class=\"plain\"></span>recording") +
         (uses(BarKind::damaged) ? "<span class=\"damaged\"></span>damaged" : "") +
         (uses(BarKind::clockSetBack) ? "<span class=\"setback\"></span>overlap or clock set back" : "") + "</p>\n");
    if (undated != 0)
        sink("<p class=\"undated\">" + std::to_string(undated) +
             (undated == 1 ? " recording whose start is no valid date is"
                           : " recordings whose start is no valid date are") +
             " not drawn.</p>\n");
}

void writeList(std::string_view heading, const std::vector<std::string>& lines, const PageSink& sink) {
    if (lines.empty()) return;
    sink("<h2>" + std::string(heading) + "</h2>\n<ul>\n");
    for (const std::string& line : lines) sink("<li>" + escapeHtml(line) + "</li>\n");
    sink("</ul>\n");
}

struct Columns {
    bool cardName = false;
    bool sha256 = false;
    bool checked = false;
};

Columns columnsOf(const std::vector<FileFacts>& facts) {
    Columns shown;
    for (const FileFacts& file : facts) {
        shown.cardName = shown.cardName || !file.cardName.empty();
        shown.sha256 = shown.sha256 || !file.sha256.empty();
        shown.checked = shown.checked || file.checked.has_value();
    }
    return shown;
}

std::string cell(std::string_view text, bool number = false) {
    return (number ? "<td class=\"n\">" : "<td>") + escapeHtml(text) + "</td>";
}

void writeFiles(const ReportInput& input, const PageSink& sink) {
    const Columns shown = columnsOf(input.files);
    sink("<h2>Files</h2>\n<table>\n<thead><tr><th>#</th><th>Name</th>" +
         std::string(shown.cardName ? "<th>Name on the card</th>" : "") +
         "<th>Start</th><th>Length</th><th>Size</th>" + (shown.sha256 ? "<th>SHA-256</th>" : "") +
         (shown.checked ? "<th>Checked</th>" : "") + "</tr></thead>\n<tbody>\n");
    const FileFacts unknown;
    input.plan.forEach([&](const output::PlannedFile& file) {
        const FileFacts& facts = file.index < input.files.size() ? input.files[file.index] : unknown;
        std::string row = "<tr>" + cell(std::to_string(file.index), true) + cell(file.heading.name);
        if (shown.cardName) row += cell(facts.cardName);
        row += cell(formatStart(file.heading.start)) + cell(formatLength(centisecondsOf(file.payloadBytes)), true) +
               cell(output::formatBytes(file.heading.plannedSize), true);
        if (shown.sha256) row += "<td><code>" + escapeHtml(facts.sha256) + "</code></td>";
        if (shown.checked) row += cell(!facts.checked ? "" : *facts.checked ? "yes" : "NO");
        sink(row + "</tr>\n");
        return true;
    });
    sink("</tbody>\n</table>\n");
}

}  // namespace

std::string outcomeSentence(const RunOutcome& outcome, uint64_t plannedFiles) {
    const std::string written = std::to_string(outcome.filesWritten) + " of " + files(plannedFiles) + " written";
    const std::string to = " to " + outcome.destination;
    const uint64_t zeroFilled = outcome.zeroFilledFiles;
    const std::string damage =
        zeroFilled == 0 ? ""
                        : " " + std::to_string(zeroFilled) + (zeroFilled == 1 ? " holds" : " hold") +
                              " zero-filled bytes where the card could not be read.";
    const auto& check = outcome.check;
    if (check && check->differing != 0)
        return outcomeSentence({outcome.end, outcome.filesWritten, zeroFilled, outcome.destination, {}}, plannedFiles) +
               " Checked on the disk: " + std::to_string(check->differing) + " of " + files(check->files) + " differ.";
    switch (outcome.end) {
    case RunEnd::listed:
        return "Listed only: nothing was exported.";
    case RunEnd::exported:
        if (check)
            return files(outcome.filesWritten) + " written" + to + ", all checked on the disk" +
                   (check->cardMayBeFormatted ? ": the card may be formatted." : ".") + damage;
        return files(outcome.filesWritten) + " written" + to + "." + damage;
    case RunEnd::nothingFound:
        return "No recording was found on the card: nothing was exported.";
    case RunEnd::scanFailed:
        return "A card read failed during the scan: nothing was exported.";
    case RunEnd::scanInterrupted:
        return "Interrupted during the scan: nothing was exported.";
    case RunEnd::readFailed:
        return "A card read failed: " + written + " whole" + to + "." + damage;
    case RunEnd::writeFailed:
        return "Writing" + to + " failed: " + written + ".";
    case RunEnd::interrupted:
        return "Interrupted: " + written + " whole" + to + "." + damage;
    }
    return {};
}

void writeReportPage(const ReportInput& input, const PageSink& sink) {
    sink("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n");
    writeHeading(input, sink);
    const CardAnomalies anomalies = findAnomalies(input.scan);
    writeTimeline(input, anomalies, sink);
    std::vector<std::string> lines;
    for (const Anomaly& anomaly : anomalies.found) lines.push_back(anomaly.line);
    writeList("Anomalies", lines, sink);
    writeList("Rescue", input.rescueLines, sink);
    writeFiles(input, sink);
    sink("</body>\n</html>\n");
}

}  // namespace quilbex::report
