#include "output/prefix_names.hpp"

#include <algorithm>
#include <limits>
#include <utility>

#include "output/piece_time.hpp"
#include "platform/console.hpp"
#include "wav/wav_header.hpp"

namespace quilbex::output {
namespace {

constexpr uint64_t bytesPerSecond = uint64_t{wav::sampleRate} * wav::bytesPerSample;

struct Span {
    int64_t first = 0;  // the first file's start, in seconds since 1970
    int64_t last = 0;   // the last file's
    int32_t recording = 0;
};

}  // namespace

PrefixNames::PrefixNames(const scan::RecordingTable& table, std::string prefix, uint32_t secondsPerFile)
    : prefix_(std::move(prefix)), shared_(static_cast<size_t>(table.recordingCount), false) {
    std::vector<Span> spans;
    for (int32_t k = 0; k < table.recordingCount; ++k) {
        const auto start = platform::decodeDosDateTime(table.startTimes[static_cast<size_t>(k)]);
        if (!isValidTime(start)) continue;
        const int64_t first = secondsSinceEpoch(start);
        const uint64_t payload = table.payloadBytes(k);
        const uint64_t pieceBytes = uint64_t{secondsPerFile} * bytesPerSecond;
        const int64_t lastOffset =
            secondsPerFile == 0 || payload == 0 ? 0 : static_cast<int64_t>((payload - 1) / pieceBytes * secondsPerFile);
        spans.push_back({first, first + lastOffset, k});
    }
    std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.first < b.first; });
    // In order of start, a span meets an earlier one when it starts before
    // the latest end so far, and a later one when the next starts before its
    // end.
    int64_t latestEnd = std::numeric_limits<int64_t>::min();
    for (size_t i = 0; i < spans.size(); ++i) {
        const bool meetsEarlier = spans[i].first <= latestEnd;
        const bool meetsLater = i + 1 < spans.size() && spans[i + 1].first <= spans[i].last;
        shared_[static_cast<size_t>(spans[i].recording)] = meetsEarlier || meetsLater;
        latestEnd = std::max(latestEnd, spans[i].last);
    }
}

std::string PrefixNames::Walk::name(int32_t recording, int32_t piece, const platform::CalendarTime& start) {
    if (!isValidTime(start)) {
        const std::string number = platform::formatText("_%04d", recording);
        return names_.prefix_ + number + (piece < 0 ? "" : platform::formatText("_%03d", piece)) + ".wav";
    }
    std::string name = names_.prefix_ + platform::formatText("_%04d%02d%02d_%02d%02d%02d", start.year, start.month,
                                                             start.day, start.hour, start.minute, start.second);
    if (names_.shared_[static_cast<size_t>(recording)]) {
        if (const uint32_t before = taken_[secondsSinceEpoch(start)]++; before > 0)
            name += "_" + std::to_string(before);
    }
    return name + ".wav";
}

}  // namespace quilbex::output
