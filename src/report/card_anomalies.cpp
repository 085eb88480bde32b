#include "report/card_anomalies.hpp"

#include <algorithm>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "report/listing_time.hpp"
#include "output/piece_time.hpp"
#include "output/recording_name.hpp"

namespace quilbex::report {
namespace {

constexpr std::string_view overlapText = "overlaps the one before: the recorder's clock was set back?";
constexpr std::string_view invalidStartText = "invalid start date";
constexpr std::string_view unreadableText = "unreadable header sector in block ";
constexpr int64_t startStepSeconds = 2;

std::string recordingLabel(const scan::RecordingTable& table, int32_t k) {
    return "recording " + std::to_string(k) + " (" +
           output::recordingName(k, table.startTimes[static_cast<size_t>(k)]) + ")";
}

// The blocks of an ascending list that lie in recording k.
std::vector<int32_t> blocksIn(const scan::RecordingTable& table, int32_t k, const std::vector<int32_t>& blocks) {
    const auto from = std::lower_bound(blocks.begin(), blocks.end(), table.firstBlock(k));
    const auto to = std::lower_bound(from, blocks.end(), table.endBlock(k));
    return {from, to};
}

// "blocks 40-47 carry another start time (2024-05-01 21:00:14): left from
// an earlier recording?"
std::string foreignText(const scan::ForeignRun& run) {
    const bool one = run.end - run.first == 1;
    const std::string blocks = one ? "block " + std::to_string(run.first)
                                   : "blocks " + std::to_string(run.first) + "-" + std::to_string(run.end - 1);
    return blocks + (one ? " carries" : " carry") + " another start time (" +
           formatStart(platform::decodeDosDateTime(run.startTime)) + "): left from an earlier recording?";
}

std::string blockList(const std::vector<int32_t>& blocks) {
    std::string text;
    for (const int32_t block : blocks) text += (text.empty() ? "" : ", ") + std::to_string(block);
    return text;
}

class Finder {
public:
    explicit Finder(const scan::ScanResult& scan) : scan_(scan), table_(scan.table) {}

    CardAnomalies run() {
        for (int32_t k = 0; k < table_.recordingCount; ++k) checkRecording(k);
        checkUnreadableOutside();
        return std::move(found_);
    }

private:
    void add(int32_t k, AnomalyKind kind, std::string_view what) {
        found_.found.push_back({k, kind, recordingLabel(table_, k) + ": " + std::string(what)});
    }

    void checkRecording(int32_t k) {
        const uint32_t stored = table_.startTimes[static_cast<size_t>(k)];
        const platform::CalendarTime start = platform::decodeDosDateTime(stored);
        const bool valid = output::isValidTime(start);
        if (!valid) add(k, AnomalyKind::invalidStart, invalidStartText);
        const auto [first, isNew] = firstWithStart_.try_emplace(stored, k);
        if (!isNew) add(k, AnomalyKind::clockSetBack, "same start time as " + recordingLabel(table_, first->second));
        else if (valid && overlapsPrevious(start)) add(k, AnomalyKind::clockSetBack, overlapText);
        previousEnd_.reset();
        if (valid)
            previousEnd_ = output::secondsSinceEpoch(start) * 100 +
                           static_cast<int64_t>(centisecondsOf(table_.payloadBytes(k)));
        checkBlocks(k);
    }

    // Starts are stored to the even second below: a start counts as within
    // the sound before it only when it is so by a whole stored step.
    bool overlapsPrevious(const platform::CalendarTime& start) const {
        return previousEnd_ && (output::secondsSinceEpoch(start) + startStepSeconds) * 100 <= *previousEnd_;
    }

    void checkBlocks(int32_t k) {
        const std::vector<int32_t> withoutMagic = blocksIn(table_, k, scan_.blocksWithoutMagic);
        if (!withoutMagic.empty())
            add(k, AnomalyKind::damage,
                std::to_string(withoutMagic.size()) + (withoutMagic.size() == 1 ? " block" : " blocks") +
                    " without the magic: " + blockList(withoutMagic));
        for (const int32_t block : blocksIn(table_, k, scan_.unreadableHeaderBlocks))
            add(k, AnomalyKind::damage, std::string(unreadableText) + std::to_string(block));
        checkForeignRuns(k);
    }

    // The runs start inside the recording whose blocks they continue.
    void checkForeignRuns(int32_t k) {
        const auto& runs = scan_.foreignRuns;
        auto run = std::lower_bound(runs.begin(), runs.end(), table_.firstBlock(k),
                                    [](const scan::ForeignRun& r, int32_t block) { return r.first < block; });
        for (; run != runs.end() && run->first < table_.endBlock(k); ++run)
            add(k, AnomalyKind::damage, foreignText(*run));
    }

    // Unreadable header sectors in no recording name none.
    void checkUnreadableOutside() {
        for (const int32_t block : scan_.unreadableHeaderBlocks) {
            const bool inside = table_.recordingCount > 0 && block >= table_.firstBlock(0) &&
                                block < table_.endBlock(table_.recordingCount - 1);
            if (!inside)
                found_.found.push_back({-1, AnomalyKind::damage,
                                        std::string(unreadableText) + std::to_string(block) + ", in no recording"});
        }
    }

    const scan::ScanResult& scan_;
    const scan::RecordingTable& table_;
    CardAnomalies found_;
    std::unordered_map<uint32_t, int32_t> firstWithStart_;
    // The end of the sound of the recording before, in hundredths of a
    // second since the epoch, when its start is valid.
    std::optional<int64_t> previousEnd_;
};

}  // namespace

CardAnomalies findAnomalies(const scan::ScanResult& scan) { return Finder(scan).run(); }

}  // namespace quilbex::report
