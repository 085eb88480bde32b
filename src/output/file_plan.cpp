#include "output/file_plan.hpp"

#include <algorithm>

#include "output/piece_time.hpp"
#include "output/recording_name.hpp"
#include "wav/wav_header.hpp"

namespace quilbex::output {
namespace {

constexpr uint64_t bytesPerSecond = uint64_t{wav::sampleRate} * wav::bytesPerSample;

}  // namespace

std::string cardNameOf(const PlannedFile& file) { return recordingName(file.recording, file.heading.storedStart); }

FilePlan::FilePlan(const scan::RecordingTable& table, PlanOptions options) : table_(table), options_(options) {
    if (!options_.namePrefix.empty())
        prefixNames_.emplace(table_, options_.namePrefix, options_.secondsPerFile);
    count();
}

void FilePlan::leaveOut(std::vector<bool> files) {
    leftOut_ = std::move(files);
    count();
}

void FilePlan::count() {
    fileCount_ = 0;
    totalBytes_ = 0;
    forEach([this](const PlannedFile& file) {
        ++fileCount_;
        totalBytes_ += file.heading.plannedSize;
        return true;
    });
}

void FilePlan::forEach(const std::function<bool(const PlannedFile&)>& visit) const {
    uint64_t index = 0;
    std::optional<PrefixNames::Walk> named;
    if (prefixNames_) named.emplace(*prefixNames_);
    uint64_t kept = 0;
    const auto keptOnly = [&](const PlannedFile& file) {
        if (file.index < leftOut_.size() && leftOut_[file.index]) return true;
        PlannedFile numbered = file;
        numbered.index = kept++;
        return visit(numbered);
    };
    const std::function<bool(const PlannedFile&)> visitKept = keptOnly;
    for (int32_t k = 0; k < table_.recordingCount; ++k)
        if (!forEachOf(k, index, named ? &*named : nullptr, leftOut_.empty() ? visit : visitKept)) return;
}

bool FilePlan::forEachOf(int32_t k, uint64_t& index, PrefixNames::Walk* named,
                         const std::function<bool(const PlannedFile&)>& visit) const {
    const uint32_t stored = table_.startTimes[static_cast<size_t>(k)];
    const platform::CalendarTime start = platform::decodeDosDateTime(stored);
    const std::string name = recordingName(k, stored);
    const uint64_t payload = table_.payloadBytes(k);
    PlannedFile file;
    file.recording = k;
    file.heading.name = name;
    file.heading.start = start;
    file.heading.storedStart = stored;
    if (options_.secondsPerFile == 0) {
        file.payloadBytes = payload;
        file.index = index++;
        if (named) file.heading.name = named->name(k, file.piece, start);
        file.trailerBytes = trailerSize(file);
        file.heading.plannedSize = wav::wavFileSizeFor(payload, file.trailerBytes);
        return visit(file);
    }
    const uint64_t pieceBytes = options_.secondsPerFile * bytesPerSecond;
    const bool validStart = isValidTime(start);
    // A recording without payload is still one file, its header alone.
    for (uint64_t offset = 0; offset < payload || offset == 0; offset += pieceBytes) {
        ++file.piece;
        file.index = index++;
        file.payloadOffset = offset;
        file.payloadBytes = std::min(pieceBytes, payload - offset);
        file.offsetSeconds = static_cast<int64_t>(offset / bytesPerSecond);
        if (validStart) {
            file.heading.start = addSeconds(start, file.offsetSeconds);
            file.heading.name = fileName(k, file.heading.start);
        } else {
            file.heading.name = numberedPieceName(name, file.piece);
        }
        if (named) file.heading.name = named->name(k, file.piece, file.heading.start);
        file.trailerBytes = trailerSize(file);
        file.heading.plannedSize = wav::wavFileSizeFor(file.payloadBytes, file.trailerBytes);
        if (!visit(file)) return false;
    }
    return true;
}

wav::GuanoFacts FilePlan::guanoFacts(const PlannedFile& file) const {
    wav::GuanoFacts facts;
    if (isValidTime(file.heading.start)) facts.start = file.heading.start;
    facts.utcOffsetMinutes = options_.utcOffsetMinutes;
    facts.payloadBytes = file.payloadBytes;
    facts.originalName = cardNameOf(file);
    facts.firstBlock = table_.firstBlock(file.recording);
    if (file.piece >= 0) facts.offsetSeconds = file.offsetSeconds;
    return facts;
}

uint64_t FilePlan::trailerSize(const PlannedFile& file) const {
    return options_.guano ? wav::guanoChunkSize(guanoFacts(file)) : 0;
}

std::vector<std::byte> FilePlan::header(const PlannedFile& file) const {
    return wav::buildWavHeader(file.payloadBytes, file.trailerBytes);
}

std::vector<std::byte> FilePlan::trailer(const PlannedFile& file, uint64_t unreadableBytes) const {
    if (!options_.guano) return {};
    return wav::buildGuanoChunk(guanoFacts(file), unreadableBytes);
}

}  // namespace quilbex::output
