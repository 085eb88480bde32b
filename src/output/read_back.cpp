#include "output/read_back.hpp"

#include <algorithm>
#include <utility>

#include "platform/read_ahead.hpp"

namespace quilbex::output {
std::string differsText(const std::string& path, std::optional<uint64_t> firstDifference) {
    std::string line = "Not identical on the disk: " + path;
    if (firstDifference) line += " (from byte " + std::to_string(*firstDifference) + ")";
    return line;
}

std::string unreadableText(const std::string& path, const std::string& reason) {
    return "Not identical on the disk: " + path + " (can't read it back" + (reason.empty() ? "" : ": " + reason) + ")";
}

// A file that ends early or goes on differs from the byte where one of the
// two ends; bytes that differ within the length are known only by the hash.
void checkWrittenFile(const WrittenFile& file, CheckTally& tally) {
    ++tally.files;
    platform::ReadAhead readBack;
    platform::Sha256 hash;
    uint64_t length = 0;
    auto error = readBack.open(file.path);
    readBack.allow(UINT64_MAX);
    for (std::span<const std::byte> bytes{}; !error.any();) {
        error = readBack.next(bytes);
        if (bytes.empty()) break;
        hash.add(bytes);
        length += bytes.size();
    }
    tally.bytesRead += length;
    const size_t before = tally.differing.size();
    if (error.any())
        tally.differing.push_back(unreadableText(file.path, platform::systemErrorLine(error)));
    else if (length != file.length)
        tally.differing.push_back(differsText(file.path, std::min(length, file.length)));
    else if (hash.finish() != file.digest)
        tally.differing.push_back(differsText(file.path));
    if (tally.differing.size() != before) tally.differingNames.push_back(file.name);
}

ReadBack::~ReadBack() { finish(); }

void ReadBack::check(WrittenFile file) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !waiting_; });
    waiting_ = std::move(file);
    if (!reader_.joinable()) reader_ = std::thread([this] { run(); });
    changed_.notify_all();
}

CheckTally ReadBack::finish() {
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !waiting_ && !reading_; });
        stopping_ = true;
    }
    changed_.notify_all();
    if (reader_.joinable()) reader_.join();
    return tally_;
}

void ReadBack::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return waiting_ || stopping_; });
        if (!waiting_) return;
        const WrittenFile file = std::move(*std::exchange(waiting_, std::nullopt));
        reading_ = true;
        changed_.notify_all();
        lock.unlock();
        CheckTally found;
        checkWrittenFile(file, found);
        lock.lock();
        tally_ += found;
        reading_ = false;
        changed_.notify_all();
    }
}

}  // namespace quilbex::output
