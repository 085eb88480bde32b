#include "output/archive_check.hpp"

#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <set>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

#include "output/checksum_list.hpp"
#include "output/hash_beside.hpp"
#include "output/read_back.hpp"
#include "platform/folder.hpp"
#include "platform/read_ahead.hpp"

namespace quilbex::output {
namespace {

// One stretch of the file and what it should be: bytes known in full (a
// local header, the directory and end records), or an entry's data.
struct Part {
    uint64_t start = 0;
    uint64_t end = 0;
    std::span<const std::byte> bytes;     // for a known part
    const WrittenEntry* entry = nullptr;  // for an entry's header and data
    bool data = false;
};

// Takes the file's bytes in order and compares each part as it ends. The
// parts may be added as the archive grows, each before its first byte comes.
class Comparison {
public:
    explicit Comparison(std::string path) : path_(std::move(path)), inflater_(new inflate_state) {}

    void addEntry(WrittenEntry written) {
        const WrittenEntry& entry = entries_.emplace_back(std::move(written));
        const std::vector<std::byte>& header = headers_.emplace_back(zip::localHeader(entry.record));
        const uint64_t start = entry.record.headerOffset;
        const uint64_t dataStart = start + header.size();
        addPart({start, dataStart, header, &entry, false});
        addPart({dataStart, dataStart + entry.record.compressedSize, {}, &entry, true});
    }

    // The directory and end records, at dataEnd: the last part.
    void addEnd(uint64_t dataEnd, std::vector<std::byte> end) {
        end_ = std::move(end);
        addPart({dataEnd, dataEnd + end_.size(), end_, nullptr, false});
    }

    void take(std::span<const std::byte> bytes) {
        while (!bytes.empty() && part_ < parts_.size()) {
            const Part& part = parts_[part_];
            const size_t n = static_cast<size_t>(std::min<uint64_t>(bytes.size(), part.end - position_));
            part.data ? takeData(bytes.first(n)) : compare(part, bytes.first(n));
            position_ += n;
            bytes = bytes.subspan(n);
            if (position_ == part.end) endPart();
        }
        if (!bytes.empty() && !beyond_) beyond_ = position_;
        position_ += bytes.size();
    }

    // The lines of the parts that differ, the file's end included.
    void finish(CheckTally& tally) {
        if (part_ < parts_.size()) {
            // The file ended early: in the part in hand, and before all after it.
            for (fault(parts_[part_], position_); part_ < parts_.size(); ++part_) fault(parts_[part_], std::nullopt);
        } else if (beyond_) {
            lines_.push_back(differsText(path_, beyond_));
        }
        tally.files += entries_.size();
        tally.differing.insert(tally.differing.end(), lines_.begin(), lines_.end());
        tally.differingNames.insert(tally.differingNames.end(), names_.begin(), names_.end());
    }

private:
    void addPart(const Part& part) {
        parts_.push_back(part);
        if (parts_.size() == part_ + 1) begin();
    }

    void begin() {
        faulty_ = false;
        if (part_ < parts_.size() && parts_[part_].data) {
            isal_inflate_init(inflater_.get());
            inflater_->crc_flag = ISAL_GZIP_NO_HDR;
            inflated_ = 0;
        }
    }

    void compare(const Part& part, std::span<const std::byte> bytes) {
        if (faulty_) return;
        const auto expected = part.bytes.subspan(static_cast<size_t>(position_ - part.start), bytes.size());
        const auto differs = std::mismatch(bytes.begin(), bytes.end(), expected.begin()).first;
        if (differs != bytes.end()) fault(part, position_ + static_cast<uint64_t>(differs - bytes.begin()));
    }

    // Inflates what it is given, and with nothing given what the inflater
    // still holds; false on data that is no deflate stream.
    bool inflate(std::span<const std::byte> bytes) {
        inflate_state& state = *inflater_;
        state.next_in = reinterpret_cast<uint8_t*>(const_cast<std::byte*>(bytes.data()));
        state.avail_in = static_cast<uint32_t>(bytes.size());
        do {
            state.next_out = out_;
            state.avail_out = sizeof out_;
            if (isal_inflate(&state) < 0) return false;
            inflated_ += sizeof out_ - state.avail_out;
        } while (state.block_state != ISAL_BLOCK_FINISH && (state.avail_in > 0 || state.avail_out == 0));
        return true;
    }

    void takeData(std::span<const std::byte> bytes) {
        if (faulty_) return;
        if (!inflate(bytes)) fault(parts_[part_], std::nullopt);
    }

    void endPart() {
        const Part& part = parts_[part_];
        if (part.data) {
            const zip::EntryRecord& record = part.entry->record;
            if (!faulty_ && (!inflate({}) || inflater_->block_state != ISAL_BLOCK_FINISH ||
                             inflated_ != record.uncompressedSize || inflater_->crc != record.crc))
                fault(part, std::nullopt);
        }
        ++part_;
        begin();
    }

    // One line for an entry (its header or data), or for the directory: at
    // its first fault, with the offset in the file where known.
    void fault(const Part& part, std::optional<uint64_t> at) {
        faulty_ = true;
        if (!told_.insert(part.entry).second) return;
        const std::string what = part.entry ? path_ + ": " + part.entry->record.name : path_ + ", its directory";
        if (part.entry) names_.push_back(part.entry->record.name);
        lines_.push_back(differsText(what, at));
    }

    std::string path_;
    std::deque<WrittenEntry> entries_;  // a deque: the parts point into it
    std::deque<std::vector<std::byte>> headers_;
    std::vector<std::byte> end_;
    std::vector<Part> parts_;
    size_t part_ = 0;
    uint64_t position_ = 0;
    uint64_t beyond_ = 0;  // where bytes past the expected end began; 0 when none
    bool faulty_ = false;  // the part in hand differs, and was told
    std::unique_ptr<inflate_state> inflater_;
    uint8_t out_[64 * 1024];
    uint64_t inflated_ = 0;
    std::set<const WrittenEntry*> told_;  // the directory as null
    std::vector<std::string> lines_;
    std::vector<std::string> names_;  // of the entries in lines_
};

std::string baseName(const std::string& path) {
    const size_t separator = path.find_last_of("/\\");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

// NAME.zip.sha256 for `sha256sum -c`, with its name on the disk.
platform::SystemError writeDigest(const std::string& path, const platform::Sha256Digest& digest) {
    ChecksumList list;
    auto error = list.create(path + ".sha256");
    if (!error.any()) error = list.add(digest, baseName(path));
    if (const auto finished = list.made() ? list.finish() : platform::SystemError{}; !error.any()) error = finished;
    if (!error.any()) error = platform::flushFolder(platform::folderOf(path));
    return error;
}

// The end of the whole pages before `position`, where a read that must not
// reach a page still to be written stops.
uint64_t wholePagesBefore(uint64_t position) {
    return position / platform::ReadBackFile::alignment * platform::ReadBackFile::alignment;
}

}  // namespace

// The reading thread's state; the fields under `mutex` are shared with the
// writer, the others are the reader's alone.
struct ArchiveReadBack::State {
    explicit State(std::string archivePath)
        : path(std::move(archivePath)), comparison(path) {}

    std::string path;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<WrittenEntry> pending;                                // flushed, not yet handed to the comparison
    std::optional<std::pair<uint64_t, std::vector<std::byte>>> end;  // dataEnd and the end's bytes
    uint64_t target = 0;    // read up to here; all of the file once `end` is set
    bool stopping = false;  // the reader ends without reading on

    Comparison comparison;
    platform::ReadAhead file;
    HashBeside whole;
    uint64_t position = 0;  // read so far
    platform::SystemError error;
    std::thread reader;
};

ArchiveReadBack::ArchiveReadBack(std::string path) : state_(std::make_unique<State>(std::move(path))) {}

ArchiveReadBack::~ArchiveReadBack() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->changed.notify_all();
    if (state_->reader.joinable()) state_->reader.join();
}

void ArchiveReadBack::entryFlushed(const WrittenEntry& entry) {
    written_.push_back(entry);
    {
        std::lock_guard lock(state_->mutex);
        state_->pending.push_back(entry);
        const zip::EntryRecord& record = entry.record;
        const uint64_t dataEnd = record.headerOffset + zip::localHeader(record).size() + record.compressedSize;
        state_->target = wholePagesBefore(dataEnd);
    }
    if (!state_->reader.joinable()) state_->reader = std::thread([this] { run(); });
    state_->changed.notify_all();
}

CheckTally ArchiveReadBack::finish(uint64_t keptEntries, uint64_t dataEnd, std::vector<std::byte> end) {
    State& state = *state_;
    const bool keptAll = keptEntries == written_.size();
    {
        std::unique_lock lock(state.mutex);
        if (keptAll)
            state.end.emplace(dataEnd, std::move(end));
        else
            state.stopping = true;
    }
    state.changed.notify_all();
    if (!state.reader.joinable() && keptAll) state.reader = std::thread([this] { run(); });
    if (state.reader.joinable()) state.reader.join();
    if (!keptAll) {
        written_.resize(static_cast<size_t>(keptEntries));
        CheckTally again = checkArchive({state.path, std::move(written_), dataEnd, std::move(end)});
        again.bytesRead += state.position;
        return again;
    }
    CheckTally tally;
    tally.bytesRead = state.position;
    if (state.error.any()) {
        tally.files = written_.size();
        tally.differing.push_back(unreadableText(state.path, platform::systemErrorLine(state.error)));
        for (const auto& entry : written_) tally.differingNames.push_back(entry.record.name);
        return tally;
    }
    state.comparison.finish(tally);
    if (!tally.differing.empty()) return tally;
    if (const auto failed = writeDigest(state.path, state.whole.finish()); failed.any())
        tally.failures.push_back("Error: Can't write " + state.path + ".sha256: " + platform::systemErrorLine(failed));
    return tally;
}

// Each stretch is read once the writer says it is on the disk.
void ArchiveReadBack::run() {
    State& state = *state_;
    state.error = state.file.open(state.path);
    for (;;) {
        std::deque<WrittenEntry> entries;
        std::optional<std::pair<uint64_t, std::vector<std::byte>>> end;
        uint64_t target = 0;
        {
            std::unique_lock lock(state.mutex);
            state.changed.wait(lock, [&] { return state.stopping || state.end || !state.pending.empty(); });
            if (state.stopping || state.error.any()) return;
            entries = std::exchange(state.pending, {});
            end = std::exchange(state.end, std::nullopt);
            target = state.target;
        }
        for (auto& entry : entries) state.comparison.addEntry(std::move(entry));
        if (end) {
            state.comparison.addEnd(end->first, std::move(end->second));
            readUpTo(state, UINT64_MAX);
            return;
        }
        readUpTo(state, target);
    }
}

// Reading stops at the limit: the bytes after it may still be written.
void ArchiveReadBack::readUpTo(State& state, uint64_t limit) {
    state.file.allow(limit);
    for (std::span<const std::byte> bytes{}; !state.error.any();) {
        state.error = state.file.next(bytes);
        if (bytes.empty()) return;
        state.whole.add(bytes);
        state.comparison.take(bytes);
        state.whole.wait();  // the buffer goes back to the file at the next read
        state.position += bytes.size();
    }
}

CheckTally checkArchive(const WrittenArchive& archive) {
    CheckTally tally;
    auto comparison = std::make_unique<Comparison>(archive.path);
    for (const auto& entry : archive.entries) comparison->addEntry(entry);
    comparison->addEnd(archive.dataEnd, archive.end);
    platform::ReadAhead file;
    HashBeside whole;
    auto error = file.open(archive.path);
    file.allow(UINT64_MAX);
    for (std::span<const std::byte> bytes{}; !error.any();) {
        error = file.next(bytes);
        if (bytes.empty()) break;
        whole.add(bytes);
        comparison->take(bytes);
        whole.wait();
        tally.bytesRead += bytes.size();
    }
    if (error.any()) {
        tally.files += archive.entries.size();
        tally.differing.push_back(unreadableText(archive.path, platform::systemErrorLine(error)));
        for (const auto& entry : archive.entries) tally.differingNames.push_back(entry.record.name);
        return tally;
    }
    comparison->finish(tally);
    if (!tally.differing.empty()) return tally;
    if (const auto failed = writeDigest(archive.path, whole.finish()); failed.any())
        tally.failures.push_back("Error: Can't write " + archive.path +
                                 ".sha256: " + platform::systemErrorLine(failed));
    return tally;
}

}  // namespace quilbex::output
