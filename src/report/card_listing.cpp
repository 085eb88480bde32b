#include "report/card_listing.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>

#include "report/card_anomalies.hpp"
#include "report/listing_time.hpp"
#include "output/size_text.hpp"
#include "output/piece_time.hpp"

namespace quilbex::report {
namespace {

constexpr size_t columnCount = 5;
using Row = std::array<std::string, columnCount>;
using Widths = std::array<size_t, columnCount>;

const Row headings = {"#", "Name", "Start", "Length", "Size"};
// Numbers are right-aligned under their left-aligned heading.
constexpr std::array<bool, columnCount> rightAligned = {true, false, false, true, true};
constexpr std::string_view indent = "  ";
constexpr std::string_view separator = "  ";

Row rowOf(uint64_t index, const output::PlannedFile& file) {
    return {std::to_string(index), file.heading.name, formatStart(file.heading.start),
            formatLength(centisecondsOf(file.payloadBytes)), output::formatBytes(file.heading.plannedSize)};
}

// The last column is not padded on the right: no line ends in spaces.
void appendLine(std::string& text, const Row& cells, const Widths& widths, bool heading) {
    text += indent;
    for (size_t c = 0; c < columnCount; ++c) {
        if (c > 0) text += separator;
        const std::string fill(widths[c] - std::min(widths[c], cells[c].size()), ' ');
        const bool right = rightAligned[c] && !heading;
        if (right) text += fill;
        text += cells[c];
        if (!right && c + 1 < columnCount) text += fill;
    }
    text += '\n';
}

// The rows are made twice, once for the widths and once for the text, as
// the plan is walked rather than stored.
std::string table(const output::FilePlan& plan) {
    Widths widths{};
    for (size_t c = 0; c < columnCount; ++c) widths[c] = headings[c].size();
    uint64_t index = 0;
    plan.forEach([&](const output::PlannedFile& file) {
        const Row row = rowOf(index++, file);
        for (size_t c = 0; c < columnCount; ++c) widths[c] = std::max(widths[c], row[c].size());
        return true;
    });
    std::string text;
    appendLine(text, headings, widths, true);
    index = 0;
    plan.forEach([&](const output::PlannedFile& file) {
        appendLine(text, rowOf(index++, file), widths, false);
        return true;
    });
    return text;
}

std::string countText(uint64_t count, std::string_view one, std::string_view many) {
    return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

// "3 recordings, 0:00:32.77 of sound, 25.2 MB, from 2017-03-05 14:07:32 to
// 2017-03-06 02:15:10"; with pieces "29 files from 8 recordings, ...".
std::string summary(int32_t recordings, const output::FilePlan& plan) {
    uint64_t payloadBytes = 0;
    std::optional<platform::CalendarTime> earliest;
    std::optional<platform::CalendarTime> latest;
    plan.forEach([&](const output::PlannedFile& file) {
        payloadBytes += file.payloadBytes;
        const platform::CalendarTime& start = file.heading.start;
        if (!output::isValidTime(start)) return true;
        const int64_t seconds = output::secondsSinceEpoch(start);
        if (!earliest || seconds < output::secondsSinceEpoch(*earliest)) earliest = start;
        if (!latest || seconds > output::secondsSinceEpoch(*latest)) latest = start;
        return true;
    });
    const std::string recordingCount = countText(static_cast<uint64_t>(recordings), "recording", "recordings");
    std::string text = plan.options().secondsPerFile == 0
                           ? recordingCount
                           : countText(plan.fileCount(), "file", "files") + " from " + recordingCount;
    text += ", " + formatLength(centisecondsOf(payloadBytes)) + " of sound, " +
            output::formatBytes(plan.totalBytes());
    if (earliest) text += ", from " + formatStart(*earliest) + " to " + formatStart(*latest);
    return text + "\n";
}

}  // namespace

CardListing listCard(const scan::ScanResult& scan, const output::FilePlan& plan) {
    const report::CardAnomalies anomalies = report::findAnomalies(scan);
    CardListing listing{table(plan)};
    for (const report::Anomaly& anomaly : anomalies.found) listing.text += anomaly.line + "\n";
    listing.text += summary(scan.table.recordingCount, plan);
    return listing;
}

}  // namespace quilbex::report
