#include "app/card_listing.hpp"

#include <algorithm>
#include <array>
#include <string_view>

#include "app/card_anomalies.hpp"
#include "app/listing_time.hpp"
#include "export/progress_text.hpp"
#include "export/recording_name.hpp"
#include "export/wav_header.hpp"

namespace quilbex::app {
namespace {

constexpr size_t columnCount = 5;
constexpr std::array<std::string_view, columnCount> headings = {"#", "Name", "Start", "Length", "Size"};
// Numbers are right-aligned under their left-aligned heading.
constexpr std::array<bool, columnCount> rightAligned = {true, false, false, true, true};
constexpr std::string_view indent = "  ";
constexpr std::string_view separator = "  ";

using Row = std::array<std::string, columnCount>;

Row rowOf(size_t index, const ListedFile& file) {
    return {std::to_string(index), file.name, formatStart(file.start), formatLength(centisecondsOf(file.payloadBytes)),
            exporting::formatBytes(file.fileBytes)};
}

std::string pad(std::string_view cell, size_t width, bool right) {
    const std::string fill(width - std::min(width, cell.size()), ' ');
    return right ? fill + std::string(cell) : std::string(cell) + fill;
}

// The last column is not padded on the right: no line ends in spaces.
std::string lineOf(const Row& cells, const std::array<size_t, columnCount>& widths, bool heading) {
    std::string line(indent);
    for (size_t c = 0; c < columnCount; ++c) {
        if (c > 0) line += separator;
        const bool right = rightAligned[c] && !heading;
        line += c + 1 == columnCount && !right ? cells[c] : pad(cells[c], widths[c], right);
    }
    return line + "\n";
}

std::string table(const std::vector<ListedFile>& files) {
    std::vector<Row> rows;
    rows.reserve(files.size());
    for (size_t i = 0; i < files.size(); ++i) rows.push_back(rowOf(i, files[i]));
    Row heading;
    std::array<size_t, columnCount> widths{};
    for (size_t c = 0; c < columnCount; ++c) {
        heading[c] = headings[c];
        widths[c] = headings[c].size();
        for (const Row& row : rows) widths[c] = std::max(widths[c], row[c].size());
    }
    std::string text = lineOf(heading, widths, true);
    for (const Row& row : rows) text += lineOf(row, widths, false);
    return text;
}

std::string countText(size_t count, std::string_view one, std::string_view many) {
    return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

// "3 recordings, 0:00:32.77 of sound, 25.2 MB, from 2017-03-05 14:07:32 to
// 2017-03-06 02:15:10"; files that split recordings are counted as such.
std::string summary(int32_t recordings, const std::vector<ListedFile>& files) {
    uint64_t payloadBytes = 0;
    uint64_t fileBytes = 0;
    const ListedFile* earliest = nullptr;
    const ListedFile* latest = nullptr;
    for (const ListedFile& file : files) {
        payloadBytes += file.payloadBytes;
        fileBytes += file.fileBytes;
        if (!isValidStart(file.start)) continue;
        const int64_t start = secondsSinceEpoch(file.start);
        if (!earliest || start < secondsSinceEpoch(earliest->start)) earliest = &file;
        if (!latest || start > secondsSinceEpoch(latest->start)) latest = &file;
    }
    const auto recordingCount = static_cast<size_t>(recordings);
    std::string text = files.size() == recordingCount
                           ? countText(recordingCount, "recording", "recordings")
                           : countText(files.size(), "file", "files") + " from " +
                                 countText(recordingCount, "recording", "recordings");
    text += ", " + formatLength(centisecondsOf(payloadBytes)) + " of sound, " + exporting::formatBytes(fileBytes);
    if (earliest) text += ", from " + formatStart(earliest->start) + " to " + formatStart(latest->start);
    return text + "\n";
}

}  // namespace

std::vector<ListedFile> wholeRecordings(const scan::RecordingTable& table) {
    std::vector<ListedFile> files;
    files.reserve(static_cast<size_t>(table.recordingCount));
    for (int32_t k = 0; k < table.recordingCount; ++k) {
        const uint32_t stored = table.startTimes[static_cast<size_t>(k)];
        const uint64_t payload = table.payloadBytes(k);
        files.push_back({k, exporting::recordingName(k, stored), platform::decodeDosDateTime(stored), payload,
                         exporting::wavFileSizeFor(payload)});
    }
    return files;
}

CardListing listCard(const scan::ScanResult& scan, const std::vector<ListedFile>& files) {
    const CardAnomalies anomalies = findAnomalies(scan);
    CardListing listing{table(files), anomalies.unreadable};
    for (const std::string& line : anomalies.lines) listing.text += line + "\n";
    listing.text += summary(scan.table.recordingCount, files);
    return listing;
}

}  // namespace quilbex::app
