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

FileOnDisk hashOnDisk(const std::string& path) {
    FileOnDisk found;
    platform::ReadAhead file;
    platform::Sha256 hash;
    found.error = file.open(path);
    file.allow(UINT64_MAX);
    for (std::span<const std::byte> bytes{}; !found.error.any();) {
        found.error = file.next(bytes);
        if (bytes.empty()) break;
        hash.add(bytes);
        found.length += bytes.size();
    }
    found.digest = hash.finish();
    return found;
}

// A file that ends early or goes on differs from the byte where one of the
// two ends; bytes that differ within the length are known only by the hash.
void checkWrittenFile(const WrittenFile& file, CheckTally& tally) {
    ++tally.files;
    const FileOnDisk found = hashOnDisk(file.path);
    tally.bytesRead += found.length;
    const size_t before = tally.differing.size();
    if (found.error.any())
        tally.differing.push_back(unreadableText(file.path, platform::systemErrorLine(found.error)));
    else if (found.length != file.length)
        tally.differing.push_back(differsText(file.path, std::min(found.length, file.length)));
    else if (found.digest != file.digest)
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
