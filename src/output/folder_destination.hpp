#pragma once
// The export's files as WAV files in a folder. Each is written as NAME.part
// and renamed to NAME only once it is whole and on the disk, so a final name
// always means a whole file; a file cut short (by a failure, or a reading
// that stopped) keeps its .part name and its bytes so far. The folder may be
// one that others can write: every file is made exclusively, a link at a
// .part name is removed, never followed, and one at a final name is replaced
// by the rename. Nothing else in the folder is touched but its checksum list
// (output/checksum_list), which gets each file's SHA-256 as the file takes
// its name: the hash of the bytes handed to write(), which the pipeline
// works out while they are written. Before close() reports success the list, and the folder's own
// entries with the new names, are on the disk too.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "output/checksum_list.hpp"
#include "output/destination.hpp"
#include "output/read_back.hpp"
#include "platform/output_file.hpp"
#include "platform/sha256.hpp"

namespace quilbex::output {

// The path of the file called `name` in `folder`.
std::string pathInFolder(const std::string& folder, const std::string& name);

// The SHA-256 of each file given its name, at the file's place among those
// begun (the first at 0); none for a file not finished.
using FileDigests = std::vector<std::optional<platform::Sha256Digest>>;

class FolderDestination final : public Destination {
public:
    explicit FolderDestination(std::string folder) : folder_(std::move(folder)) {}

    // Reads every file back once it has its name (output/read_back).
    void checkFiles() { readBack_.emplace(); }
    // Files an earlier run left whole, which the new checksum list names
    // first: their digests and names.
    void carryOver(std::vector<std::pair<platform::Sha256Digest, std::string>> listed) {
        carried_ = std::move(listed);
    }
    // Keeps the digest of every file as it takes its name in `digests`,
    // which the two copies of -m may share.
    void keepDigests(FileDigests& digests) { digests_ = &digests; }

    bool takesDeflated() const override { return false; }
    bool wantsDigest() const override { return true; }
    bool beginFile(const FileHeading& file) override;
    bool write(std::span<const std::byte> bytes) override;
    bool finishFile(const FileEnd& end) override;
    bool close() override;
    std::vector<std::string> failureLines() const override;
    CheckTally finishChecks() override { return readBack_ ? readBack_->finish() : CheckTally{}; }
    // A start that is no valid date leaves the file at the time of writing,
    // with the warning a zip entry's date gets.
    std::vector<std::string> fileWarnings() const override { return warnings_; }

    // The path of the file left under its .part name; empty when none was.
    const std::string& keptPart() const { return keptPart_; }

private:
    // True without an error; else records it and keeps the file begun
    // under its .part name: false.
    bool fail(platform::SystemError error);
    // Closes the file begun under its .part name; false on a failure.
    bool keepPart();
    // Makes the checksum list, with the lines carried over; false on a failure.
    bool createList();

    std::string folder_;
    platform::OutputFile file_;
    ChecksumList list_;
    std::vector<std::pair<platform::Sha256Digest, std::string>> carried_;
    std::optional<ReadBack> readBack_;  // with the check
    FileDigests* digests_ = nullptr;
    uint64_t begun_ = 0;                // files begun: the one begun last is at begun_ - 1
    bool renamed_ = false;              // a file took its name: the folder is to be flushed
    std::string name_;                  // of the file begun last
    std::string path_;                  // its final path
    platform::CalendarTime start_;
    uint64_t plannedSize_ = 0;  // the file is whole when it gets this many bytes
    bool partMade_ = false;     // its .part file is ours: made, and not yet renamed
    platform::SystemError error_;
    std::string keptPart_;
    std::vector<std::string> warnings_;  // of the file begun last
};

}  // namespace quilbex::output
