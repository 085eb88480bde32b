#include "report/night_timeline.hpp"

#include <algorithm>
#include <optional>
#include <string>

#include "output/piece_time.hpp"
#include "output/recording_name.hpp"
#include "platform/console.hpp"
#include "report/listing_time.hpp"

namespace quilbex::report {
namespace {

constexpr int64_t secondsPerDay = 86400;
constexpr int64_t noon = 43200;
constexpr int labelWidth = 96;
constexpr int plotWidth = 960;
constexpr double secondsPerPixel = double(secondsPerDay) / plotWidth;
constexpr int axisHeight = 22;
constexpr int rowHeight = 18;
constexpr int barHeight = 12;
// A bar of a few seconds is still to be seen.
constexpr double minimumBarWidth = 2.0;
// Up to this many empty nights in a row get a row each; more share one.
constexpr int64_t emptyRowsShown = 3;

const platform::CalendarTime epoch{1970, 1, 1, 0, 0, 0};

// A recording on the night it starts in.
struct Placed {
    int64_t night = 0;       // days since the epoch of the night's evening
    int64_t fromNoon = 0;    // start, seconds after the night's noon
    uint64_t centiseconds = 0;  // length of its sound
    int32_t recording = 0;
    BarKind kind = BarKind::plain;
};

// Recordings drawn as one bar: the first, and how far the last reaches.
struct Bar {
    Placed first;
    int64_t endCentiseconds = 0;  // after the night's noon, of the one that ends last
    uint64_t count = 0;

    double left() const { return double(first.fromNoon) / secondsPerPixel; }
    double right() const { return double(endCentiseconds) / 100.0 / secondsPerPixel; }
};

// A row of the picture: a night, or a run of empty nights [night, lastNight].
struct Row {
    int64_t night = 0;
    int64_t lastNight = 0;
    size_t from = 0;  // its recordings in the sorted list: [from, to)
    size_t to = 0;
};

int64_t floorDiv(int64_t a, int64_t b) { return a / b - (a % b < 0 ? 1 : 0); }

std::string dateOfNight(int64_t night) {
    return formatStart(output::addSeconds(epoch, night * secondsPerDay)).substr(0, 10);
}

const char* className(BarKind kind) {
    switch (kind) {
    case BarKind::damaged:
        return "damaged";
    case BarKind::clockSetBack:
        return "setback";
    case BarKind::plain:
        break;
    }
    return "plain";
}

std::vector<Placed> placeRecordings(const scan::RecordingTable& table, const std::vector<BarKind>& kinds,
                                    uint64_t& undated) {
    std::vector<Placed> placed;
    placed.reserve(static_cast<size_t>(table.recordingCount));
    for (int32_t k = 0; k < table.recordingCount; ++k) {
        const auto start = platform::decodeDosDateTime(table.startTimes[static_cast<size_t>(k)]);
        if (!output::isValidTime(start)) {
            ++undated;
            continue;
        }
        const int64_t sinceNoon = output::secondsSinceEpoch(start) - noon;
        const int64_t night = floorDiv(sinceNoon, secondsPerDay);
        placed.push_back({night, sinceNoon - night * secondsPerDay, centisecondsOf(table.payloadBytes(k)), k,
                          kinds[static_cast<size_t>(k)]});
    }
    std::sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) {
        return a.night != b.night ? a.night < b.night
                                  : a.fromNoon != b.fromNoon ? a.fromNoon < b.fromNoon : a.recording < b.recording;
    });
    return placed;
}

std::vector<Row> rowsOf(const std::vector<Placed>& placed) {
    std::vector<Row> rows;
    for (size_t i = 0; i < placed.size();) {
        const int64_t night = placed[i].night;
        if (!rows.empty() && night - rows.back().night > 1) {
            const int64_t firstEmpty = rows.back().night + 1;
            if (night - firstEmpty <= emptyRowsShown)
                for (int64_t n = firstEmpty; n < night; ++n) rows.push_back({n, n, i, i});
            else
                rows.push_back({firstEmpty, night - 1, i, i});
        }
        size_t end = i;
        while (end < placed.size() && placed[end].night == night) ++end;
        rows.push_back({night, night, i, end});
        i = end;
    }
    return rows;
}

std::string number(double value) { return platform::formatText("%.1f", value); }

std::string recordingTitle(const scan::RecordingTable& table, const Placed& p) {
    const uint32_t stored = table.startTimes[static_cast<size_t>(p.recording)];
    return output::recordingName(p.recording, stored) + ", " + formatStart(platform::decodeDosDateTime(stored)) +
           ", " + formatLength(p.centiseconds);
}

void writeBar(const scan::RecordingTable& table, const Bar& bar, int64_t night, int y, const PageSink& sink) {
    const double left = bar.left();
    const double right = std::min(bar.right(), double(plotWidth));
    const uint32_t stored = table.startTimes[static_cast<size_t>(bar.first.recording)];
    std::string start = formatStart(platform::decodeDosDateTime(stored));
    const uint64_t spanCentiseconds = static_cast<uint64_t>(bar.endCentiseconds - bar.first.fromNoon * 100);
    std::string title = bar.count == 1 ? recordingTitle(table, bar.first)
                                       : std::to_string(bar.count) + " recordings from " + start + ", over " +
                                             formatLength(spanCentiseconds);
    std::string text = "<rect class=\"" + std::string(className(bar.first.kind)) + "\" x=\"" +
                       number(labelWidth + left) + "\" y=\"" + std::to_string(y) + "\" width=\"" +
                       number(std::max(minimumBarWidth, right - left)) + "\" height=\"" + std::to_string(barHeight) +
                       "\" data-night=\"" + dateOfNight(night) + "\" data-recording=\"" +
                       std::to_string(bar.first.recording) + "\" data-count=\"" + std::to_string(bar.count) +
                       "\" data-start=\"" + start.replace(10, 1, "T") + "\" data-length=\"" +
                       platform::formatText("%.2f", double(spanCentiseconds) / 100.0) + "\"><title>" +
                       escapeHtml(title) + "</title></rect>\n";
    sink(text);
}

void writeNight(const scan::RecordingTable& table, const std::vector<Placed>& placed, const Row& row, int top,
                const PageSink& sink) {
    const int y = top + (rowHeight - barHeight) / 2;
    std::optional<Bar> bar;
    for (size_t i = row.from; i < row.to; ++i) {
        const Placed& p = placed[i];
        const int64_t end = p.fromNoon * 100 + static_cast<int64_t>(p.centiseconds);
        Bar next{p, end, 1};
        if (bar && bar->first.kind == p.kind && next.left() <= bar->right() + 1.0) {
            bar->endCentiseconds = std::max(bar->endCentiseconds, end);
            ++bar->count;
            continue;
        }
        if (bar) writeBar(table, *bar, row.night, y, sink);
        bar = next;
    }
    if (bar) writeBar(table, *bar, row.night, y, sink);
}

void writeAxis(int height, const PageSink& sink) {
    std::string text;
    for (int h = 0; h <= 24; ++h) {
        const int x = labelWidth + h * plotWidth / 24;
        text += "<line class=\"tick\" x1=\"" + std::to_string(x) + "\" y1=\"" + std::to_string(axisHeight - 4) +
                "\" x2=\"" + std::to_string(x) + "\" y2=\"" + std::to_string(height) + "\"/>";
        if (h < 24)
            text += "<text class=\"hour\" x=\"" + std::to_string(x + 2) + "\" y=\"" + std::to_string(axisHeight - 8) +
                    "\">" + platform::formatText("%02d", (12 + h) % 24) + "</text>";
        text += "\n";
    }
    sink(text);
}

}  // namespace

uint64_t writeNightTimeline(const scan::RecordingTable& table, const std::vector<BarKind>& kinds,
                            const PageSink& sink) {
    uint64_t undated = 0;
    const std::vector<Placed> placed = placeRecordings(table, kinds, undated);
    const std::vector<Row> rows = rowsOf(placed);
    const int height = axisHeight + static_cast<int>(rows.size()) * rowHeight;
    const int width = labelWidth + plotWidth + 8;
    sink("<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"timeline\" width=\"" + std::to_string(width) +
         "\" height=\"" + std::to_string(height) + "\" viewBox=\"0 0 " + std::to_string(width) + " " +
         std::to_string(height) + "\" role=\"img\" aria-label=\"The recordings of each night, noon to noon\">\n");
    writeAxis(height, sink);
    int top = axisHeight;
    for (const Row& row : rows) {
        const std::string baseline = std::to_string(top + rowHeight - 5);
        if (row.lastNight != row.night) {
            sink("<text class=\"gap\" x=\"" + std::to_string(labelWidth + 4) + "\" y=\"" + baseline + "\">" +
                 dateOfNight(row.night) + " to " + dateOfNight(row.lastNight) + ": " +
                 std::to_string(row.lastNight - row.night + 1) + " nights without recordings</text>\n");
        } else {
            sink("<rect class=\"night\" x=\"" + std::to_string(labelWidth) + "\" y=\"" + std::to_string(top + 1) +
                 "\" width=\"" + std::to_string(plotWidth) + "\" height=\"" + std::to_string(rowHeight - 2) +
                 "\"/><text class=\"date\" x=\"2\" y=\"" + baseline + "\">" + dateOfNight(row.night) +
                 "</text>\n");
            writeNight(table, placed, row, top, sink);
        }
        top += rowHeight;
    }
    sink("</svg>\n");
    return undated;
}

}  // namespace quilbex::report
