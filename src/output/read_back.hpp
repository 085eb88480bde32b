#pragma once
// The check of a folder's files (-c): each file, once flushed and renamed,
// is read back from the disk on a thread of its own and its SHA-256 compared
// with the one worked out while it was written. File k is read back while
// file k + 1 is written, so the card is not kept waiting; the writer waits
// only when a check has not begun by the time the next file is finished.
// Memory: two read buffers, and at most one file waiting.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "output/check_tally.hpp"
#include "platform/sha256.hpp"
#include "platform/system_error.hpp"

namespace quilbex::output {

// A file to read back: its path and name, and its length and SHA-256 as
// written.
struct WrittenFile {
    std::string path;
    std::string name;
    uint64_t length = 0;
    platform::Sha256Digest digest{};
};

// The line for a file that is not as written: its path and, where known,
// the first byte that differs.
std::string differsText(const std::string& path, std::optional<uint64_t> firstDifference = std::nullopt);
// The line for a file that could not be read back.
std::string unreadableText(const std::string& path, const std::string& reason);

// A file as the disk holds it, read past the cache: its length and SHA-256,
// or the reason it could not be read to its end.
struct FileOnDisk {
    platform::SystemError error;
    uint64_t length = 0;
    platform::Sha256Digest digest{};
};
FileOnDisk hashOnDisk(const std::string& path);

// Reads a written file back and compares it; adds what it found to `tally`.
void checkWrittenFile(const WrittenFile& file, CheckTally& tally);

// check() is called by the destination's one writing thread; the reading
// thread is started at the first file.
class ReadBack {
public:
    ReadBack() = default;
    ~ReadBack();  // waits for the checks under way
    ReadBack(const ReadBack&) = delete;
    ReadBack& operator=(const ReadBack&) = delete;

    // Queues the file's check; waits while another one is waiting.
    void check(WrittenFile file);
    // Waits for every check queued; what they found.
    CheckTally finish();

private:
    void run();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread reader_;
    std::optional<WrittenFile> waiting_;  // the next file to read back
    bool reading_ = false;                // a file is being read back
    bool stopping_ = false;
    CheckTally tally_;  // guarded by mutex_ while the reader runs
};

}  // namespace quilbex::output
